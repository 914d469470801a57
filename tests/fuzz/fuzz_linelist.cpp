// SPDX-License-Identifier: GPL-3.0-or-later
// Any bytes loaded into the line list and saved again come back unchanged once
// their line ends are CR LF: a copy never loses or alters a byte.
#include "tstringlist.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, unsigned long size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    TStringList first;
    first.LoadFromBytes(bytes);
    const QByteArray saved = first.SaveToBytes();
    TStringList second;
    second.LoadFromBytes(saved);
    if (second.Lines() != first.Lines() || second.SaveToBytes() != saved)
        std::abort();
    first.IndexOfName(QStringLiteral("IMPORT"));
    first.Values(QStringLiteral("EXPORT"));
    return 0;
}
