; SPDX-License-Identifier: GPL-3.0-or-later
; The setup program of the Windows tool: installs the folder that
; scripts/windows gathers into Program Files, with a Start-menu entry for the
; window and an entry in the list of installed programs. "/S" installs
; silently, for rolling it out to many workstations; "/D=FOLDER" (last on the
; line) installs elsewhere. /STORE="..." and /MANDANT="..." set the
; workstation's store and tenant in the machine's policy key, as the MSI's
; STORE= and MANDANT= do; the value in quotes, since a "/" in it (an address)
; would otherwise end it. Made with: makensis -DVERSION=... -DDIST=... -DOUTFILE=...
; With -DSIGN=COMMAND, the uninstaller and the setup program are signed by
; COMMAND (scripts/sign) as they are written.
; A 64-bit setup program, as the programs it installs.
Target amd64-unicode
!ifdef SIGN
!uninstfinalize '"${SIGN}" "%1"' = 0
!finalize '"${SIGN}" "%1"' = 0
!endif
!include "FileFunc.nsh"
!include "LogicLib.nsh"
SetCompressor /SOLID lzma

!define TITLE "Standard-Konfiguration Kundenkarten"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\rimdal"
; The key and value names the programs read (suiteconfig.h).
!define POLICY_KEY "SOFTWARE\Policies\Quor"
!define EVENT_SOURCE_KEY "SYSTEM\CurrentControlSet\Services\EventLog\Application\Quor"

Name "${TITLE}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Rimdal"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
RequestExecutionLevel admin
LoadLanguageFile "${NSISDIR}\Contrib\Language files\German.nlf"
VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=1031 "ProductName" "${TITLE}"
VIAddVersionKey /LANG=1031 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1031 "FileDescription" "${TITLE} – Einrichtung"
VIAddVersionKey /LANG=1031 "LegalCopyright" "GPL-3.0-or-later"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Section "Install"
    SetShellVarContext all
    SetOutPath "$INSTDIR"
    File "${DIST}\*.exe"
    File "${DIST}\*.dll"
    File "${DIST}\LICENSE.txt"
    SetOutPath "$INSTDIR\platforms"
    File "${DIST}\platforms\*.dll"
    SetOutPath "$INSTDIR\styles"
    File "${DIST}\styles\*.dll"
    SetOutPath "$INSTDIR\policies"
    File /r "${DIST}\policies\*.*"
    SetOutPath "$INSTDIR"
    WriteUninstaller "$INSTDIR\uninstall.exe"
    ; A value given is written and marked as the setup's, so that only it
    ; goes with the uninstaller; a setup run without them keeps what is set.
    ${GetParameters} $R0
    ClearErrors
    ${GetOptions} $R0 "/STORE=" $R1
    ${IfNot} ${Errors}
    ${AndIf} $R1 != ""
        WriteRegStr HKLM "${POLICY_KEY}" "Store" $R1
        WriteRegDWORD HKLM "${UNINSTALL_KEY}" "WroteStore" 1
    ${EndIf}
    ClearErrors
    ${GetOptions} $R0 "/MANDANT=" $R1
    ${IfNot} ${Errors}
    ${AndIf} $R1 != ""
        WriteRegStr HKLM "${POLICY_KEY}" "Mandant" $R1
        WriteRegDWORD HKLM "${UNINSTALL_KEY}" "WroteMandant" 1
    ${EndIf}
    WriteRegDWORD HKLM "${EVENT_SOURCE_KEY}" "TypesSupported" 7
    CreateShortcut "$SMPROGRAMS\${TITLE}.lnk" "$INSTDIR\rimdal.exe"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${TITLE}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Rimdal"
    ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\rimdal.exe"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    ; Whoever runs the quiet uninstall waits until it is done: the uninstaller
    ; runs in place (_?=; without, it hands itself to a copy and returns at
    ; once), and, as it cannot remove itself, the command line removes it and
    ; its folder once it has ended well.
    WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" \
        '"$SYSDIR\cmd.exe" /c ""$INSTDIR\uninstall.exe" /S _?=$INSTDIR && del /f /q "$INSTDIR\uninstall.exe" && rmdir "$INSTDIR""'
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; Only what the setup program put there goes; the settings stores of the
; users (under their application data) stay.
Section "Uninstall"
    SetShellVarContext all
    Delete "$SMPROGRAMS\${TITLE}.lnk"
    Delete "$INSTDIR\platforms\*.dll"
    RMDir "$INSTDIR\platforms"
    Delete "$INSTDIR\styles\*.dll"
    RMDir "$INSTDIR\styles"
    Delete "$INSTDIR\*.dll"
    Delete "$INSTDIR\rimdal.exe"
    Delete "$INSTDIR\quorstore.exe"
    Delete "$INSTDIR\LICENSE.txt"
    Delete "$INSTDIR\uninstall.exe"
    RMDir /r "$INSTDIR\policies"
    RMDir "$INSTDIR"
    ReadRegDWORD $0 HKLM "${UNINSTALL_KEY}" "WroteStore"
    ${If} $0 == 1
        DeleteRegValue HKLM "${POLICY_KEY}" "Store"
    ${EndIf}
    ReadRegDWORD $0 HKLM "${UNINSTALL_KEY}" "WroteMandant"
    ${If} $0 == 1
        DeleteRegValue HKLM "${POLICY_KEY}" "Mandant"
    ${EndIf}
    DeleteRegKey /ifempty HKLM "${POLICY_KEY}"
    DeleteRegKey HKLM "${EVENT_SOURCE_KEY}"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
