// SPDX-License-Identifier: Apache-2.0
#include "Vectors.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace kwtest {
namespace {

// A JSON string from its opening quote; the escapes the sidecars use are
// \" \\ \/ \n \t and \uXXXX (as UTF-8).
std::optional<std::string> ParseString(const std::string& json, std::size_t pos)
{
    std::string out;
    for (std::size_t i = pos + 1; i < json.size(); ++i) {
        const char c = json[i];
        if (c == '"') return out;
        if (c != '\\') {
            out += c;
            continue;
        }
        if (++i >= json.size()) return std::nullopt;
        switch (json[i]) {
        case 'n': out += '\n'; break;
        case 't': out += '\t'; break;
        case 'u': {
            if (i + 4 >= json.size()) return std::nullopt;
            const unsigned long cp = std::stoul(json.substr(i + 1, 4), nullptr, 16);
            i += 4;
            if (cp < 0x80) {
                out += static_cast<char>(cp);
            } else if (cp < 0x800) {
                out += static_cast<char>(0xC0 | (cp >> 6));
                out += static_cast<char>(0x80 | (cp & 0x3F));
            } else {
                out += static_cast<char>(0xE0 | (cp >> 12));
                out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
                out += static_cast<char>(0x80 | (cp & 0x3F));
            }
            break;
        }
        default: out += json[i]; break;
        }
    }
    return std::nullopt;
}

} // namespace

std::optional<std::string> JsonValue(const std::string& json, const std::string& key)
{
    const std::string quoted = "\"" + key + "\"";
    std::size_t pos = 0;
    while ((pos = json.find(quoted, pos)) != std::string::npos) {
        std::size_t i = pos + quoted.size();
        while (i < json.size() && (json[i] == ' ' || json[i] == '\t' || json[i] == '\n')) ++i;
        if (i >= json.size() || json[i] != ':') {
            pos = i; // the text was a value, not a key
            continue;
        }
        ++i;
        while (i < json.size() && (json[i] == ' ' || json[i] == '\t' || json[i] == '\n')) ++i;
        if (i < json.size() && json[i] == '"') return ParseString(json, i);
        std::size_t end = i;
        while (end < json.size() && json[end] >= '0' && json[end] <= '9') ++end;
        if (end == i) return std::nullopt;
        return json.substr(i, end - i);
    }
    return std::nullopt;
}

std::vector<WindowsVector> LoadWindowsVectors(const std::string& folder, std::string* error)
{
    namespace fs = std::filesystem;
    std::vector<WindowsVector> vectors;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec)) {
        if (entry.path().extension() != ".json") continue;
        std::ifstream in(entry.path(), std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        const std::string json = text.str();
        WindowsVector v;
        v.name = entry.path().stem().string();
        const auto container = JsonValue(json, "container");
        const auto password = JsonValue(json, "password");
        const auto plaintext = JsonValue(json, "plaintext");
        const auto size = JsonValue(json, "plaintext_size");
        const auto cp1252 = JsonValue(json, "password_cp1252_hex");
        if (!container || !password || !plaintext || !size) {
            if (error) *error = entry.path().string() + ": a field is missing";
            return {};
        }
        v.container = *container;
        v.password = *password;
        v.plaintext = *plaintext;
        v.plaintextSize = std::stoull(*size);
        v.passwordCp1252Hex = cp1252.value_or("");
        vectors.push_back(std::move(v));
    }
    if (ec && error) *error = folder + ": " + ec.message();
    std::sort(vectors.begin(), vectors.end(),
              [](const WindowsVector& a, const WindowsVector& b) { return a.name < b.name; });
    return vectors;
}

const std::vector<SealedVector>& SealedVectors()
{
    static const std::vector<SealedVector> vectors = {
        {"signed-empty.ksw", "empty.plain", "Kestrawin"},
        {"signed-seven.ksw", "seven.plain", "éèàç€ÿ"},   // hashed as Windows-1252
        {"signed-eight.ksw", "eight.plain", "пароль-1"}, // not in Windows-1252: UTF-8
        {"signed-text.ksw", "text.plain", "a password with spaces"},
    };
    return vectors;
}

} // namespace kwtest
