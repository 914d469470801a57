// SPDX-License-Identifier: GPL-3.0-or-later
// The form-store text parser takes any blob without failing, reads it as the
// decoded text's lines read, and whatever it reads is filed and read back the same.
#include "formstoretext.h"
#include "tstringlist.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, unsigned long size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const TFormProperties properties = parseFormStoreBlob(bytes);
    TStringList text;
    text.LoadFromBytes(bytes);
    const TFormProperties byLines = parseFormStoreText(text.Lines());
    if (byLines.size() != properties.size())
        std::abort();
    for (qsizetype i = 0; i < byLines.size(); ++i)
        if (byLines[i].path != properties[i].path || byLines[i].lines != properties[i].lines)
            std::abort();
    const TFormProperties again = parseFormStoreBlob(formStoreBlob(properties));
    if (again.size() != properties.size())
        std::abort();
    for (qsizetype i = 0; i < again.size(); ++i)
        if (again[i].path != properties[i].path || again[i].lines != properties[i].lines)
            std::abort();
    return 0;
}
