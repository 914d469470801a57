; SPDX-License-Identifier: GPL-3.0-or-later
; The setup program of the Windows tool: installs the folder that
; scripts/windows gathers into Program Files, with a Start-menu entry for the
; window and an entry in the list of installed programs. "/S" installs
; silently, for rolling it out to many workstations; "/D=FOLDER" (last on the
; line) installs elsewhere. Made with: makensis -DVERSION=... -DDIST=... -DOUTFILE=...
; With -DSIGN=COMMAND, the uninstaller and the setup program are signed by
; COMMAND (scripts/sign) as they are written.
; A 64-bit setup program, as the programs it installs.
Target amd64-unicode
!ifdef SIGN
!uninstfinalize '"${SIGN}" "%1"' = 0
!finalize '"${SIGN}" "%1"' = 0
!endif
!include "FileFunc.nsh"
SetCompressor /SOLID lzma

!define TITLE "Standard-Konfiguration Kundenkarten"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\rimdal"

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
    SetOutPath "$INSTDIR"
    WriteUninstaller "$INSTDIR\uninstall.exe"
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
    RMDir "$INSTDIR"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
