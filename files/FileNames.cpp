#include "files/FileNames.h"

namespace orvex {

namespace {

// Length of the valid UTF-8 sequence at p (1..4), or 0 when the byte there does
// not start one.  Overlong forms, surrogates and values above U+10FFFF are not
// valid.
int ValidSequence(const unsigned char* p, const unsigned char* end) {
    const unsigned char c = p[0];
    if (c < 0x80) return 1;
    int n;
    unsigned char lo = 0x80, hi = 0xBF; // allowed range of the second byte
    if (c >= 0xC2 && c <= 0xDF) {
        n = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        n = 3;
        if (c == 0xE0) lo = 0xA0;
        if (c == 0xED) hi = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4;
        if (c == 0xF0) lo = 0x90;
        if (c == 0xF4) hi = 0x8F;
    } else {
        return 0;
    }
    if (end - p < n) return 0;
    if (p[1] < lo || p[1] > hi) return 0;
    for (int i = 2; i < n; ++i)
        if ((p[i] & 0xC0) != 0x80) return 0;
    return n;
}

bool IsEscapedByte(char16_t u) {
    return u >= 0xDC80 && u <= 0xDCFF;
}

} // namespace

QString DecodeFileName(QByteArrayView native) {
    const auto* p = reinterpret_cast<const unsigned char*>(native.data());
    const auto* const end = p + native.size();
    QString out;
    out.reserve(native.size());
    while (p < end) {
        const int n = ValidSequence(p, end);
        if (n == 0) {
            out.append(QChar(char16_t(0xDC00 + *p))); // a byte of no valid sequence
            ++p;
            continue;
        }
        out.append(QString::fromUtf8(reinterpret_cast<const char*>(p), n));
        p += n;
    }
    return out;
}

QByteArray EncodeFileName(QStringView name) {
    QByteArray out;
    out.reserve(name.size());
    qsizetype i = 0;
    while (i < name.size()) {
        const char16_t u = name[i].unicode();
        const bool paired = i > 0 && QChar::isHighSurrogate(name[i - 1].unicode());
        if (IsEscapedByte(u) && !paired) {
            out.append(static_cast<char>(u - 0xDC00));
            ++i;
            continue;
        }
        // A run of ordinary characters, converted as Qt does.
        qsizetype j = i + 1;
        while (j < name.size() && !(IsEscapedByte(name[j].unicode()) &&
                                    !QChar::isHighSurrogate(name[j - 1].unicode())))
            ++j;
        out.append(name.sliced(i, j - i).toUtf8());
        i = j;
    }
    return out;
}

} // namespace orvex
