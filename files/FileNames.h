#pragma once
// File names between the system's bytes and QString without loss.
//
// Linux file names are bytes; Qt decodes them as UTF-8 and turns every byte that
// is not part of a valid sequence into U+FFFD, so a name such as "\xE9t\xE9.txt"
// (Latin-1 bytes) would be written under another name.  DecodeFileName keeps
// such a byte b as the unpaired low surrogate U+DC00 + b, and EncodeFileName
// turns it back into the byte; every valid name converts exactly as
// QFile::encodeName/decodeName do.  Code that opens files by a QString uses
// EncodeFileName, so a name from the command line reaches the system unchanged.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

namespace orvex {

QString DecodeFileName(QByteArrayView native);
QByteArray EncodeFileName(QStringView name);

} // namespace orvex
