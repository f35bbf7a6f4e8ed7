#pragma once

// Window texts come from the language texts of the server the windows belong to, by
// key.

#include "config/texts.h"

#include <QString>

inline QString UiText(const TextTable& texts, const char* key)
{
    return QString::fromStdString(texts.Lookup(key));
}

inline std::string ToUtf8(const QString& text)
{
    return text.toUtf8().toStdString();
}

inline QString FromUtf8(const std::string& text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}
