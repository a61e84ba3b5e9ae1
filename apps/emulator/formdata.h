#pragma once

#include "requestlog.h"

#include <string>
#include <string_view>
#include <vector>

namespace Emulator {

// One field of a submitted form; files carry a file name and usually a content type.
struct FormPart
{
    std::string name;
    std::string value;
    std::string filename;
    std::string contentType;
};

// A decoded request body: URL-encoded or multipart/form-data.
struct FormData
{
    std::vector<FormPart> parts;
    bool ok = true;
    std::string error; // why the body could not be read

    const FormPart* find(const std::string& name) const;
    bool has(const std::string& name) const { return find(name) != nullptr; }
    std::string value(const std::string& name) const;
};

// Decoding of what clients send. Nothing here throws; malformed input is reported as such.
namespace Forms {

// %XX escapes (and "+" as a blank when asked); false on a broken escape.
bool percentDecode(std::string_view text, bool plusIsBlank, std::string& decoded);
// "a=1&b=2" into items in order; false when an item is malformed.
bool parseQuery(std::string_view query, NameValueList& items);
FormData parseUrlEncoded(std::string_view body);
bool isMultipart(const std::string& contentType);
// The boundary parameter of a multipart content type; empty when there is none.
std::string multipartBoundary(const std::string& contentType);
// Reads the parts up to the closing delimiter; an epilogue after it is ignored.
FormData parseMultipart(const std::string& contentType, std::string_view body);

bool isValidUtf8(std::string_view text);
std::size_t codePointCount(std::string_view text);

} // namespace Forms
} // namespace Emulator
