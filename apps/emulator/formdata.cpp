#include "formdata.h"

#include <cctype>
#include <strings.h>

namespace Emulator {

const FormPart* FormData::find(const std::string& name) const
{
    for (const FormPart& part : parts) {
        if (part.name == name)
            return &part;
    }
    return nullptr;
}

std::string FormData::value(const std::string& name) const
{
    const FormPart* part = find(name);
    return part ? part->value : std::string();
}

namespace Forms {

namespace {

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

std::string lowered(std::string_view text)
{
    std::string out(text);
    for (char& c : out)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// The value of one parameter of a header such as Content-Type or Content-Disposition.
bool headerParameter(std::string_view header, const std::string& name, std::string& value)
{
    std::size_t pos = header.find(';');
    while (pos != std::string_view::npos) {
        std::size_t next = pos + 1;
        // Quoted values may hold a semicolon, so scan instead of splitting.
        std::size_t end = next;
        bool quoted = false;
        while (end < header.size() && (quoted || header[end] != ';')) {
            if (header[end] == '"')
                quoted = !quoted;
            else if (quoted && header[end] == '\\' && end + 1 < header.size())
                ++end;
            ++end;
        }
        const std::string_view item = trimmed(header.substr(next, end - next));
        const std::size_t eq = item.find('=');
        if (eq != std::string_view::npos && lowered(trimmed(item.substr(0, eq))) == name) {
            std::string_view raw = trimmed(item.substr(eq + 1));
            value.clear();
            if (raw.size() >= 2 && raw.front() == '"' && raw.back() == '"') {
                raw = raw.substr(1, raw.size() - 2);
                for (std::size_t i = 0; i < raw.size(); ++i) {
                    if (raw[i] == '\\' && i + 1 < raw.size())
                        ++i;
                    value += raw[i];
                }
            } else {
                value = std::string(raw);
            }
            return true;
        }
        pos = end < header.size() ? end : std::string_view::npos;
    }
    return false;
}

FormData failed(const std::string& why)
{
    FormData form;
    form.ok = false;
    form.error = why;
    return form;
}

} // namespace

bool percentDecode(std::string_view text, bool plusIsBlank, std::string& decoded)
{
    decoded.clear();
    decoded.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '%') {
            if (i + 2 >= text.size())
                return false;
            const int high = hexValue(text[i + 1]);
            const int low = hexValue(text[i + 2]);
            if (high < 0 || low < 0)
                return false;
            decoded += static_cast<char>(high * 16 + low);
            i += 2;
        } else if (c == '+' && plusIsBlank) {
            decoded += ' ';
        } else {
            decoded += c;
        }
    }
    return true;
}

bool parseQuery(std::string_view query, NameValueList& items)
{
    items.clear();
    bool ok = true;
    std::size_t start = 0;
    while (start <= query.size()) {
        std::size_t end = query.find('&', start);
        if (end == std::string_view::npos)
            end = query.size();
        const std::string_view item = query.substr(start, end - start);
        if (!item.empty()) {
            const std::size_t eq = item.find('=');
            std::string name;
            std::string value;
            const std::string_view rawName = item.substr(0, eq);
            const std::string_view rawValue =
                eq == std::string_view::npos ? std::string_view() : item.substr(eq + 1);
            if (rawName.empty() || !percentDecode(rawName, true, name) || !percentDecode(rawValue, true, value))
                ok = false;
            else
                items.emplace_back(std::move(name), std::move(value));
        }
        start = end + 1;
    }
    return ok;
}

FormData parseUrlEncoded(std::string_view body)
{
    NameValueList items;
    if (!parseQuery(body, items))
        return failed("Malformed form body");
    FormData form;
    for (auto& item : items)
        form.parts.push_back({std::move(item.first), std::move(item.second), {}, {}});
    return form;
}

bool isMultipart(const std::string& contentType)
{
    return lowered(trimmed(std::string_view(contentType).substr(0, contentType.find(';')))) ==
           "multipart/form-data";
}

std::string multipartBoundary(const std::string& contentType)
{
    std::string boundary;
    if (!headerParameter(contentType, "boundary", boundary))
        return {};
    return boundary;
}

FormData parseMultipart(const std::string& contentType, std::string_view body)
{
    const std::string boundary = multipartBoundary(contentType);
    if (boundary.empty() || boundary.size() > 70)
        return failed("Missing or invalid multipart boundary");
    const std::string delimiter = "--" + boundary;
    const std::string separator = "\r\n" + delimiter;

    std::size_t pos;
    if (body.compare(0, delimiter.size(), delimiter) == 0) {
        pos = delimiter.size();
    } else {
        const std::size_t first = body.find(separator);
        if (first == std::string_view::npos)
            return failed("Multipart body without its boundary");
        pos = first + separator.size();
    }

    FormData form;
    for (;;) {
        if (body.compare(pos, 2, "--") == 0)
            return form; // closing delimiter; whatever follows is an epilogue
        while (pos < body.size() && (body[pos] == ' ' || body[pos] == '\t'))
            ++pos;
        if (body.compare(pos, 2, "\r\n") != 0)
            return failed("Malformed multipart boundary line");
        pos += 2;

        std::size_t contentStart;
        std::string_view headerBlock;
        if (body.compare(pos, 2, "\r\n") == 0) {
            contentStart = pos + 2;
        } else {
            const std::size_t headersEnd = body.find("\r\n\r\n", pos);
            if (headersEnd == std::string_view::npos)
                return failed("Multipart part without the end of its headers");
            headerBlock = body.substr(pos, headersEnd - pos);
            contentStart = headersEnd + 4;
        }
        const std::size_t contentEnd = body.find(separator, contentStart);
        if (contentEnd == std::string_view::npos)
            return failed("Multipart body without its closing boundary");

        FormPart part;
        bool disposition = false;
        std::size_t lineStart = 0;
        while (lineStart <= headerBlock.size() && !headerBlock.empty()) {
            std::size_t lineEnd = headerBlock.find("\r\n", lineStart);
            if (lineEnd == std::string_view::npos)
                lineEnd = headerBlock.size();
            const std::string_view line = headerBlock.substr(lineStart, lineEnd - lineStart);
            const std::size_t colon = line.find(':');
            if (colon == std::string_view::npos)
                return failed("Malformed multipart part header");
            const std::string name = lowered(trimmed(line.substr(0, colon)));
            const std::string_view value = trimmed(line.substr(colon + 1));
            if (name == "content-disposition") {
                if (lowered(trimmed(value.substr(0, value.find(';')))) != "form-data")
                    return failed("Multipart part is not form data");
                disposition = headerParameter(value, "name", part.name);
                headerParameter(value, "filename", part.filename);
            } else if (name == "content-type") {
                part.contentType = std::string(value);
            }
            lineStart = lineEnd + 2;
        }
        if (!disposition || part.name.empty())
            return failed("Multipart part without a field name");
        part.value = std::string(body.substr(contentStart, contentEnd - contentStart));
        form.parts.push_back(std::move(part));
        pos = contentEnd + separator.size();
    }
}

bool isValidUtf8(std::string_view text)
{
    std::size_t i = 0;
    while (i < text.size()) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        std::size_t length;
        unsigned int codePoint;
        if (c < 0x80) {
            ++i;
            continue;
        } else if ((c & 0xE0) == 0xC0) {
            length = 2;
            codePoint = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            length = 3;
            codePoint = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            length = 4;
            codePoint = c & 0x07;
        } else {
            return false;
        }
        if (i + length > text.size())
            return false;
        for (std::size_t k = 1; k < length; ++k) {
            const unsigned char next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80)
                return false;
            codePoint = (codePoint << 6) | (next & 0x3F);
        }
        static const unsigned int smallest[] = {0, 0, 0x80, 0x800, 0x10000};
        if (codePoint < smallest[length] || codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF))
            return false;
        i += length;
    }
    return true;
}

std::size_t codePointCount(std::string_view text)
{
    std::size_t count = 0;
    for (char c : text) {
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80)
            ++count;
    }
    return count;
}

} // namespace Forms
} // namespace Emulator
