// The XML data-packet format: writer and a small reader of exactly this layout.
//
// The field name "DC/AC" is written unchanged as an attribute name, which no
// conforming XML parser accepts, so the reader below is our own: elements,
// attributes in any order, the escapes, comments and processing instructions;
// whatever it does not know it skips.

#include "files/TableFiles.h"
#include "files/TableFilesCommon.h"

#include <QHash>

#include <array>
#include <cstring>
#include <vector>

namespace orvex {

using detail::AppendInt;
using detail::AppendLatin1;
using detail::ParseInt32;

namespace {

// ---- writer ------------------------------------------------------------------------

void AppendEscaped(QByteArray& out, QStringView text) {
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t u = text[i].unicode();
        switch (u) {
        case '<':
            out.append("&lt;", 4);
            break;
        case '>':
            out.append("&gt;", 4);
            break;
        case '&':
            out.append("&amp;", 5);
            break;
        case '"':
            out.append("&quot;", 6);
            break;
        case '\'':
            out.append("&apos;", 6);
            break;
        case '\t':
            out.append("&#009;", 6);
            break;
        case '\n':
            out.append("&#010;", 6);
            break;
        case '\r':
            out.append("&#013;", 6);
            break;
        case '\\':
            out.append("&#092;", 6);
            break;
        default:
            if (u > 0xFF) {
                // No single-byte form: keep the character as a reference to its
                // code point (a character above U+FFFF is one reference, not two
                // for its UTF-16 halves; a half without its partner, which no
                // reference can stand for, becomes U+FFFD).
                char32_t code = u;
                if (QChar::isHighSurrogate(u) && i + 1 < text.size() &&
                    QChar::isLowSurrogate(text[i + 1].unicode())) {
                    code = QChar::surrogateToUcs4(u, text[++i].unicode());
                } else if (QChar::isSurrogate(u)) {
                    code = 0xFFFD;
                }
                out.append("&#", 2);
                AppendInt(out, static_cast<std::int32_t>(code));
                out.append(';');
            } else {
                out.append(static_cast<char>(u));
            }
        }
    }
}

// The attribute name of a field: a few characters are replaced by "_".
QByteArray AttrName(const QString& fieldName) {
    QByteArray name = fieldName.toLatin1();
    for (char& c : name) {
        switch (c) {
        case ' ':
        case '!':
        case '#':
        case '$':
        case '%':
        case '(':
        case ')':
        case '*':
        case '?':
            c = '_';
            break;
        default:
            break;
        }
    }
    return name;
}

struct XmlNames {
    std::array<QByteArray, RecordTable::kFieldCount> attr;
    XmlNames() {
        for (int f = 0; f < RecordTable::kFieldCount; ++f)
            attr[static_cast<std::size_t>(f)] = AttrName(RecordTable::FieldName(f));
    }
};

const XmlNames& Names() {
    static const XmlNames names;
    return names;
}

QByteArray XmlHead(const RecordTable& table, int rows) {
    QByteArray out("<?xml version=\"1.0\" standalone=\"yes\"?>  "
                   "<DATAPACKET Version=\"2.0\"><METADATA><FIELDS>");
    for (int f = 0; f < RecordTable::kFieldCount; ++f) {
        const QString name = RecordTable::FieldName(f);
        const QByteArray& attr = Names().attr[static_cast<std::size_t>(f)];
        out.append("<FIELD attrname=\"");
        AppendEscaped(out, QString::fromLatin1(attr));
        out.append('"');
        if (attr != name.toLatin1()) {
            out.append(" fieldname=\"");
            AppendEscaped(out, name);
            out.append('"');
        }
        if (RecordTable::IsIntegerField(f))
            out.append(" fieldtype=\"i4\"/>");
        else
            out.append(" fieldtype=\"string\" WIDTH=\"20\"/>");
    }
    out.append("</FIELDS><PARAMS");
    bool any = false;
    for (int row = 0; row < rows; ++row) {
        if (!table.IsAppended(row)) continue;
        out.append(any ? " " : " CHANGE_LOG=\"");
        any = true;
        AppendInt(out, row + 1);
        out.append(" 0 4", 4);
    }
    if (any) out.append('"');
    out.append("/></METADATA><ROWDATA>");
    return out;
}

const char kXmlTail[] = "</ROWDATA></DATAPACKET>";

void AppendXmlRow(QByteArray& out, const RecordTable& table, int row) {
    out.append("<ROW", 4);
    if (table.IsAppended(row)) out.append(" RowState=\"4\"", 13);
    for (int f = 0; f < RecordTable::kFieldCount; ++f) {
        if (!table.Has(row, f)) continue;
        if (RecordTable::IsIntegerField(f)) {
            out.append(' ');
            out.append(Names().attr[static_cast<std::size_t>(f)]);
            out.append("=\"", 2);
            AppendInt(out, table.Integer(row, f));
        } else {
            const QString text = table.Text(row, f);
            if (text.isEmpty()) continue; // an empty text is written like no value
            out.append(' ');
            out.append(Names().attr[static_cast<std::size_t>(f)]);
            out.append("=\"", 2);
            AppendEscaped(out, text);
        }
        out.append('"');
    }
    out.append("/>", 2);
}

// ---- reader ------------------------------------------------------------------------

inline bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

inline bool SameName(QByteArrayView a, QByteArrayView b) {
    return qstrnicmp(a.data(), a.size(), b.data(), b.size()) == 0;
}

struct Attribute {
    QByteArrayView name;
    QByteArrayView raw; // between the quotes, escapes not yet resolved
};

// Up to this many FIELD declarations a row's attributes are matched one by one.
constexpr std::size_t kFewDeclarations = 16;

class PacketReader {
  public:
    PacketReader(QByteArrayView bytes, RecordTable& staging, const ProgressCallback& progress)
        : begin_(bytes.data()), p_(bytes.data()), end_(bytes.data() + bytes.size()),
          table_(staging), progress_(progress) {}

    bool Run();
    bool cancelled = false;
    QString error;

  private:
    bool Fail(const QString& why) {
        if (error.isEmpty()) error = why;
        return false;
    }
    bool SkipPast(const char* terminator);
    bool SkipMisc(); // comments, processing instructions, declarations, blanks
    bool ReadTag(QByteArrayView& name, bool& selfClosing);
    bool Decode(QByteArrayView raw, QString& out, qsizetype limit);
    bool OnElement(QByteArrayView name);
    bool OnField();
    bool OnRow();
    int FieldOf(QByteArrayView attrName) const;

    const char* const begin_;
    const char* p_;
    const char* const end_;
    RecordTable& table_;
    const ProgressCallback& progress_;

    std::vector<QByteArrayView> stack_;
    std::vector<Attribute> attrs_;
    std::vector<std::pair<QByteArray, int>> declared_; // attrname -> field
    // The same, keyed by the lower-case attrname (the first declaration of a name
    // wins), for packets that declare many fields: matching every attribute of
    // every row against every declaration would take time growing with their product.
    QHash<QByteArray, int> declaredByName_;
    bool seenRoot_ = false;
    RecordRow row_;
    int rows_ = 0;
};

bool PacketReader::SkipPast(const char* terminator) {
    const QByteArrayView rest(p_, end_ - p_);
    const qsizetype at = rest.indexOf(QByteArrayView(terminator));
    if (at < 0) return Fail(QStringLiteral("The file ends inside a markup"));
    p_ += at + qsizetype(std::strlen(terminator));
    return true;
}

bool PacketReader::SkipMisc() {
    for (;;) {
        while (p_ < end_ && IsSpace(*p_))
            ++p_;
        const QByteArrayView rest(p_, end_ - p_);
        if (rest.startsWith("<?")) {
            if (!SkipPast("?>")) return false;
        } else if (rest.startsWith("<!--")) {
            if (!SkipPast("-->")) return false;
        } else if (rest.startsWith("<!") && stack_.empty()) {
            if (!SkipPast(">")) return false;
        } else {
            return true;
        }
    }
}

// At "<name": reads the name and the attributes up to ">" or "/>".
bool PacketReader::ReadTag(QByteArrayView& name, bool& selfClosing) {
    ++p_; // '<'
    const char* n = p_;
    while (p_ < end_ && !IsSpace(*p_) && *p_ != '/' && *p_ != '>')
        ++p_;
    if (p_ == n) return Fail(QStringLiteral("An element without a name"));
    name = QByteArrayView(n, p_ - n);
    attrs_.clear();
    for (;;) {
        while (p_ < end_ && IsSpace(*p_))
            ++p_;
        if (p_ == end_) return Fail(QStringLiteral("The file ends inside a tag"));
        if (*p_ == '>') {
            ++p_;
            selfClosing = false;
            return true;
        }
        if (*p_ == '/' && p_ + 1 < end_ && p_[1] == '>') {
            p_ += 2;
            selfClosing = true;
            return true;
        }
        // An attribute name runs to "=", a blank or the end of the tag; a "/" that
        // does not close the tag belongs to it ("DC/AC").
        const char* a = p_;
        while (p_ < end_ && *p_ != '=' && !IsSpace(*p_) && *p_ != '>' && *p_ != '<' &&
               !(*p_ == '/' && p_ + 1 < end_ && p_[1] == '>'))
            ++p_;
        if (p_ == a) return Fail(QStringLiteral("A malformed attribute"));
        const QByteArrayView attrName(a, p_ - a);
        while (p_ < end_ && IsSpace(*p_))
            ++p_;
        if (p_ == end_ || *p_ != '=') return Fail(QStringLiteral("An attribute without value"));
        ++p_;
        while (p_ < end_ && IsSpace(*p_))
            ++p_;
        if (p_ == end_ || (*p_ != '"' && *p_ != '\''))
            return Fail(QStringLiteral("An attribute value without quotes"));
        const char quote = *p_++;
        const char* v = p_;
        const void* close = std::memchr(p_, quote, static_cast<std::size_t>(end_ - p_));
        if (!close) return Fail(QStringLiteral("The file ends inside an attribute value"));
        p_ = static_cast<const char*>(close);
        attrs_.push_back({attrName, QByteArrayView(v, p_ - v)});
        ++p_;
    }
}

// Resolves the escapes of an attribute value; keeps at most `limit` characters
// (all when negative; counted by code point) but checks the whole value.
bool PacketReader::Decode(QByteArrayView raw, QString& out, qsizetype limit) {
    if (!raw.contains('&')) {
        out = QString::fromLatin1(raw.data(), limit < 0 ? raw.size() : std::min(limit, raw.size()));
        return true;
    }
    out.clear();
    qsizetype kept = 0;
    auto put = [&](char32_t u) {
        if (limit >= 0 && kept >= limit) return;
        ++kept;
        if (u > 0xFFFF) {
            const char32_t s = u - 0x10000;
            out.append(QChar(char16_t(0xD800 + (s >> 10))));
            out.append(QChar(char16_t(0xDC00 + (s & 0x3FF))));
        } else {
            out.append(QChar(char16_t(u)));
        }
    };
    const char* q = raw.data();
    const char* const e = q + raw.size();
    while (q < e) {
        if (*q != '&') {
            put(static_cast<unsigned char>(*q++));
            continue;
        }
        const char* semi =
            static_cast<const char*>(std::memchr(q, ';', std::min<std::size_t>(e - q, 12)));
        if (!semi) return Fail(QStringLiteral("A malformed escape"));
        const QByteArrayView ref(q + 1, semi - q - 1);
        if (ref == "lt")
            put('<');
        else if (ref == "gt")
            put('>');
        else if (ref == "amp")
            put('&');
        else if (ref == "quot")
            put('"');
        else if (ref == "apos")
            put('\'');
        else if (ref.size() >= 2 && ref[0] == '#') {
            const bool hex = ref[1] == 'x' || ref[1] == 'X';
            const QByteArrayView digits = ref.sliced(hex ? 2 : 1);
            if (digits.isEmpty()) return Fail(QStringLiteral("A malformed escape"));
            char32_t u = 0;
            for (char c : digits) {
                int d;
                if (c >= '0' && c <= '9')
                    d = c - '0';
                else if (hex && c >= 'a' && c <= 'f')
                    d = c - 'a' + 10;
                else if (hex && c >= 'A' && c <= 'F')
                    d = c - 'A' + 10;
                else
                    return Fail(QStringLiteral("A malformed escape"));
                u = u * (hex ? 16 : 10) + char32_t(d);
                if (u > 0x10FFFF) return Fail(QStringLiteral("A malformed escape"));
            }
            if (u == 0 || (u >= 0xD800 && u <= 0xDFFF))
                return Fail(QStringLiteral("A malformed escape"));
            put(u);
        } else {
            return Fail(QStringLiteral("An unknown escape"));
        }
        q = semi + 1;
    }
    return true;
}

int PacketReader::FieldOf(QByteArrayView attrName) const {
    if (declared_.size() <= kFewDeclarations) {
        for (const auto& [name, field] : declared_)
            if (SameName(attrName, name)) return field;
    } else {
        const auto it = declaredByName_.constFind(attrName.toByteArray().toLower());
        if (it != declaredByName_.constEnd()) return it.value();
    }
    for (int f = 0; f < RecordTable::kFieldCount; ++f)
        if (SameName(attrName, Names().attr[static_cast<std::size_t>(f)])) return f;
    return -1;
}

bool PacketReader::OnField() {
    QByteArrayView attrName;
    QString fieldName;
    bool hasAttr = false;
    for (const Attribute& a : attrs_) {
        if (SameName(a.name, "attrname")) {
            attrName = a.raw;
            hasAttr = true;
        } else if (SameName(a.name, "fieldname")) {
            if (!Decode(a.raw, fieldName, -1)) return false;
        }
    }
    if (!hasAttr) return true; // nothing to match it by
    QString attrText;
    if (!Decode(attrName, attrText, -1)) return false;
    const int field = RecordTable::FieldIndex(fieldName.isEmpty() ? attrText : fieldName);
    declared_.emplace_back(attrText.toLatin1(), field); // -1: a field the table lacks
    const QByteArray key = declared_.back().first.toLower();
    if (!declaredByName_.contains(key)) declaredByName_.insert(key, field);
    return true;
}

bool PacketReader::OnRow() {
    row_.appended = false;
    for (FieldCell& cell : row_.fields) {
        cell.has = false;
        cell.text = QString();
    }
    QString text;
    for (const Attribute& a : attrs_) {
        if (SameName(a.name, "RowState")) {
            row_.appended = true;
            continue;
        }
        const int field = FieldOf(a.name);
        if (field < 0) continue;
        FieldCell& cell = row_.fields[static_cast<std::size_t>(field)];
        if (RecordTable::IsIntegerField(field)) {
            if (!Decode(a.raw, text, 32)) return false;
            if (text.isEmpty()) {
                cell.has = false;
                continue;
            }
            const QByteArray digits = text.toLatin1();
            if (a.raw.size() > 32 ||
                !ParseInt32(digits.constData(), digits.constData() + digits.size(), cell.integer))
                return Fail(QStringLiteral("Row %1: %2 is not a whole number")
                                .arg(rows_ + 1)
                                .arg(QString::fromLatin1(a.name)));
            cell.has = true;
        } else {
            if (!Decode(a.raw, cell.text, RecordTable::kTextWidth)) return false;
            cell.has = !cell.text.isEmpty();
        }
    }
    table_.Append(row_);
    ++rows_;
    if (progress_ && rows_ % kProgressStep == 0 && !progress_(p_ - begin_, end_ - begin_)) {
        cancelled = true;
        return false;
    }
    return true;
}

bool PacketReader::OnElement(QByteArrayView name) {
    const std::size_t depth = stack_.size();
    if (depth == 0) {
        if (!SameName(name, "DATAPACKET"))
            return Fail(QStringLiteral("The file holds no data packet"));
        seenRoot_ = true;
        return true;
    }
    const QByteArrayView parent = stack_.back();
    if (depth == 3 && SameName(name, "FIELD") && SameName(parent, "FIELDS") &&
        SameName(stack_[1], "METADATA"))
        return OnField();
    if (depth == 2 && SameName(name, "ROW") && SameName(parent, "ROWDATA")) return OnRow();
    return true; // anything else is ignored
}

bool PacketReader::Run() {
    if (QByteArrayView(p_, end_ - p_).startsWith("\xEF\xBB\xBF")) p_ += 3;
    if (!SkipMisc()) return false;
    while (p_ < end_) {
        if (*p_ != '<') {
            if (stack_.empty()) return Fail(QStringLiteral("Text outside the data packet"));
            const void* lt = std::memchr(p_, '<', static_cast<std::size_t>(end_ - p_));
            p_ = lt ? static_cast<const char*>(lt) : end_;
            continue;
        }
        const QByteArrayView rest(p_, end_ - p_);
        if (rest.startsWith("<!--")) {
            if (!SkipPast("-->")) return false;
        } else if (rest.startsWith("<![CDATA[")) {
            if (!SkipPast("]]>")) return false;
        } else if (rest.startsWith("<?")) {
            if (!SkipPast("?>")) return false;
        } else if (rest.startsWith("<!")) {
            if (!SkipPast(">")) return false;
        } else if (rest.startsWith("</")) {
            p_ += 2;
            const char* n = p_;
            while (p_ < end_ && *p_ != '>' && !IsSpace(*p_))
                ++p_;
            const QByteArrayView name(n, p_ - n);
            while (p_ < end_ && IsSpace(*p_))
                ++p_;
            if (p_ == end_ || *p_ != '>') return Fail(QStringLiteral("A malformed end tag"));
            ++p_;
            if (stack_.empty() || !SameName(stack_.back(), name))
                return Fail(QStringLiteral("An end tag that closes nothing open"));
            stack_.pop_back();
            if (stack_.empty()) {
                // The packet is complete; only blanks and comments may follow.
                if (!SkipMisc()) return false;
                if (p_ != end_) return Fail(QStringLiteral("Data after the data packet"));
                return true;
            }
        } else {
            if (seenRoot_ && stack_.empty()) return Fail(QStringLiteral("A second root element"));
            QByteArrayView name;
            bool selfClosing = false;
            if (!ReadTag(name, selfClosing)) return false;
            if (!OnElement(name)) return false;
            if (selfClosing) {
                if (stack_.empty()) return Fail(QStringLiteral("An empty data packet element"));
            } else {
                if (stack_.size() >= 64) return Fail(QStringLiteral("Elements nested too deep"));
                stack_.push_back(name);
            }
        }
    }
    if (!seenRoot_) return Fail(QStringLiteral("The file holds no data packet"));
    return Fail(QStringLiteral("The file ends before the data packet is closed"));
}

} // namespace

QByteArray TableXmlBytes(const RecordTable& table, int rows) {
    if (rows < 0 || rows > table.rowCount()) rows = table.rowCount();
    QByteArray out = XmlHead(table, rows);
    for (int row = 0; row < rows; ++row)
        AppendXmlRow(out, table, row);
    out.append(kXmlTail);
    return out;
}

FileResult SaveTableXml(const RecordTable& table, const QString& fileName,
                        const ProgressCallback& progress) {
    const int rows = table.rowCount();
    return detail::StreamTable(
        table, fileName, rows, XmlHead(table, rows),
        [&table](QByteArray& out, int row) { AppendXmlRow(out, table, row); }, QByteArray(kXmlTail),
        progress);
}

FileResult LoadTableXml(QByteArrayView bytes, RecordTable& table,
                        const ProgressCallback& progress) {
    FileResult result;
    // Rows recorded while the progress callback runs the event loop are appended
    // to `table` from this row on; they are readings like any other and stay,
    // after the rows of the file (the table being emptied meanwhile starts over).
    int recordedFrom = table.rowCount();
    const QMetaObject::Connection watch =
        QObject::connect(&table, &RecordTable::reset, [&recordedFrom] { recordedFrom = 0; });
    struct Disconnect {
        const QMetaObject::Connection& c;
        ~Disconnect() { QObject::disconnect(c); }
    } disconnectOnExit{watch};

    RecordTable staging;
    PacketReader reader(bytes, staging, progress);
    if (!reader.Run()) {
        result.status = reader.cancelled ? FileStatus::Cancelled : FileStatus::Failed;
        result.error = reader.error;
        return result; // the table is left as it was
    }
    result.rows = staging.rowCount();
    RecordTable recorded;
    recorded.AppendRows(table, recordedFrom);
    table.ReplaceWith(staging);
    table.AppendRows(recorded);
    table.setCurrentRow(table.rowCount() > 0 ? 0 : -1);
    if (progress) progress(bytes.size(), bytes.size());
    return result;
}

} // namespace orvex
