#include "settings/IniDocument.h"

#include "platform/files/FileNames.h"

namespace vb {

namespace {

// What the reader strips around a value. Only these: a value may well end in a no-break space
// or another kind of white space, and must read back with it.
bool IsBlank(QChar c)
{
    return c == u' ' || c == u'\t';
}

QStringView TrimBlanks(QStringView text)
{
    while (!text.isEmpty() && IsBlank(text.front()))
        text = text.sliced(1);
    while (!text.isEmpty() && IsBlank(text.back()))
        text.chop(1);
    return text;
}

// A line's text without the carriage return of a CRLF ending, which the line keeps.
QStringView WithoutCr(QStringView line)
{
    return line.endsWith(u'\r') ? line.chopped(1) : line;
}

bool IsControl(QChar c)
{
    return c.unicode() < 0x20 || c.unicode() == 0x7f;
}

bool SameName(const QString& a, const QString& b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

} // namespace

IniDocument IniDocument::Parse(const QByteArray& bytes)
{
    IniDocument doc;
    doc.m_sections.emplace_back();
    // Lines that are not UTF-8 survive the decoding, so a rewrite gives back their bytes.
    const QString text = DecodeFileName(bytes);
    const auto lines = QStringView(text).split(u'\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QStringView full = lines[i];
        if (i == lines.size() - 1 && full.isEmpty())
            break; // the final newline
        const QStringView line = WithoutCr(full);
        const QStringView trimmed = line.trimmed();
        if (trimmed.startsWith(u'[') && trimmed.endsWith(u']')) {
            Section section;
            section.name = trimmed.mid(1, trimmed.size() - 2).trimmed().toString();
            doc.m_sections.push_back(std::move(section));
        }
        Section& section = doc.m_sections.back();
        Line entry{full.toString(), QString()};
        if (section.lines.size() > 0 || section.name.isEmpty()) {
            const qsizetype eq = line.indexOf(u'=');
            if (!trimmed.startsWith(u';') && !trimmed.startsWith(u'#') && eq > 0 &&
                !line.first(eq).trimmed().isEmpty()) {
                entry.key = line.first(eq).trimmed().toString();
                section.keys[entry.key.toLower()].push_back(section.lines.size());
            }
        }
        section.lines.push_back(std::move(entry));
    }
    return doc;
}

QByteArray IniDocument::Serialize() const
{
    QString text;
    for (const Section& section : m_sections) {
        for (const Line& line : section.lines) {
            if (line.removed)
                continue;
            text += line.text;
            text += u'\n';
        }
    }
    return EncodeFileName(text);
}

IniDocument::Section* IniDocument::FindKey(const QString& section, const QString& key, size_t* index)
{
    const QString lowered = key.toLower();
    for (auto it = m_sections.rbegin(); it != m_sections.rend(); ++it) {
        if (it->name.isEmpty() || !SameName(it->name, section))
            continue;
        const auto found = it->keys.constFind(lowered);
        if (found != it->keys.constEnd() && !found->empty()) {
            *index = found->back();
            return &*it;
        }
    }
    return nullptr;
}

std::optional<QString> IniDocument::Value(const QString& section, const QString& key) const
{
    size_t index = 0;
    const Section* found = const_cast<IniDocument*>(this)->FindKey(section, key, &index);
    if (!found)
        return std::nullopt;
    const QStringView line = WithoutCr(found->lines[index].text);
    return DecodeValue(line.sliced(line.indexOf(u'=') + 1).toString());
}

void IniDocument::SetValue(const QString& section, const QString& key, const QString& value)
{
    const QString text = key + u'=' + EncodeValue(value);
    size_t index = 0;
    if (Section* found = FindKey(section, key, &index)) {
        QString& line = found->lines[index].text;
        line = line.endsWith(u'\r') ? text + u'\r' : text;
        // Earlier copies of the key would come back to life if this one were removed later.
        const QString lowered = key.toLower();
        Remove(section, key);
        found->lines[index].removed = false;
        found->keys[lowered].push_back(index);
        return;
    }
    Section* target = nullptr;
    for (auto it = m_sections.rbegin(); it != m_sections.rend() && !target; ++it) {
        if (!it->name.isEmpty() && SameName(it->name, section))
            target = &*it;
    }
    if (!target) {
        if (m_sections.empty())
            m_sections.emplace_back();
        Section& last = m_sections.back();
        if (!last.lines.empty() && !last.lines.back().text.trimmed().isEmpty())
            last.lines.push_back(Line{QString(), QString()});
        Section created;
        created.name = section;
        created.lines.push_back(Line{u'[' + section + u']', QString()});
        m_sections.push_back(std::move(created));
        target = &m_sections.back();
    }
    // After the section's last line that is not blank; only blank lines move down.
    size_t at = target->lines.size();
    while (at > 1 && (target->lines[at - 1].removed || target->lines[at - 1].text.trimmed().isEmpty()))
        --at;
    target->lines.insert(target->lines.begin() + qsizetype(at), Line{text, key});
    target->keys[key.toLower()].push_back(at);
}

bool IniDocument::Remove(const QString& section, const QString& key)
{
    const QString lowered = key.toLower();
    bool found = false;
    for (Section& s : m_sections) {
        if (s.name.isEmpty() || !SameName(s.name, section))
            continue;
        const auto it = s.keys.find(lowered);
        if (it == s.keys.end())
            continue;
        for (size_t index : *it) {
            s.lines[index].removed = true;
            found = true;
        }
        s.keys.erase(it);
    }
    return found;
}

QString IniDocument::EncodeValue(const QString& value)
{
    // Any kind of white space at an end is quoted, although this reader strips only blanks: other
    // readers of the file may strip more.
    bool quote =
        !value.isEmpty() && (value.front().isSpace() || value.back().isSpace() || value.front() == u'"');
    for (QChar c : value)
        quote = quote || IsControl(c);
    if (!quote)
        return value;
    QString out = QStringLiteral("\"");
    for (QChar c : value) {
        switch (c.unicode()) {
        case '\\':
            out += QLatin1String("\\\\");
            break;
        case '"':
            out += QLatin1String("\\\"");
            break;
        case '\n':
            out += QLatin1String("\\n");
            break;
        case '\r':
            out += QLatin1String("\\r");
            break;
        case '\t':
            out += QLatin1String("\\t");
            break;
        default:
            if (IsControl(c))
                out += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
            else
                out += c;
        }
    }
    out += u'"';
    return out;
}

QString IniDocument::DecodeValue(const QString& raw)
{
    const QString value = TrimBlanks(raw).toString();
    if (value.size() < 2 || value.front() != u'"' || value.back() != u'"')
        return value;
    QString out;
    const qsizetype end = value.size() - 1;
    for (qsizetype i = 1; i < end; ++i) {
        const QChar c = value[i];
        if (c != u'\\' || i + 1 >= end) {
            out += c;
            continue;
        }
        const QChar e = value[++i];
        switch (e.unicode()) {
        case 'n':
            out += u'\n';
            break;
        case 'r':
            out += u'\r';
            break;
        case 't':
            out += u'\t';
            break;
        case 'x': {
            bool ok = false;
            const int code = i + 2 < end ? value.mid(i + 1, 2).toInt(&ok, 16) : 0;
            if (ok) {
                out += QChar(code);
                i += 2;
            } else {
                out += QLatin1String("\\x");
            }
            break;
        }
        default: // \\, \" and anything unknown stand for the character itself
            out += e;
        }
    }
    return out;
}

} // namespace vb
