#include "Json.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace vela2cam {

JsonValue& JsonValue::Set(const std::string& key, JsonValue value) {
    for (auto& member : members_) {
        if (member.first == key) {
            member.second = std::move(value);
            return *this;
        }
    }
    members_.emplace_back(key, std::move(value));
    return *this;
}

JsonValue& JsonValue::Append(JsonValue value) {
    items_.push_back(std::move(value));
    return *this;
}

std::string JsonValue::Serialize() const {
    std::string out;
    SerializeTo(out);
    return out;
}

void JsonValue::SerializeTo(std::string& out) const {
    switch (kind_) {
        case Kind::Null:
            out += "null";
            break;
        case Kind::Bool:
            out += bool_ ? "true" : "false";
            break;
        case Kind::Integer:
            out += std::to_string(integer_);
            break;
        case Kind::Number: {
            // JSON has no NaN or infinity; a reading that is not a number is absent.
            if (!std::isfinite(number_)) {
                out += "null";
                break;
            }
            // The shortest text that reads back as the same double.
            char text[32];
            for (int precision = 15; precision <= 17; ++precision) {
                std::snprintf(text, sizeof text, "%.*g", precision, number_);
                if (std::strtod(text, nullptr) == number_) break;
            }
            out += text;
            break;
        }
        case Kind::String:
            out += JsonQuote(string_);
            break;
        case Kind::Array: {
            out += '[';
            for (size_t i = 0; i < items_.size(); ++i) {
                if (i) out += ',';
                items_[i].SerializeTo(out);
            }
            out += ']';
            break;
        }
        case Kind::Object: {
            out += '{';
            for (size_t i = 0; i < members_.size(); ++i) {
                if (i) out += ',';
                out += JsonQuote(members_[i].first);
                out += ':';
                members_[i].second.SerializeTo(out);
            }
            out += '}';
            break;
        }
    }
}

std::string JsonQuote(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                // Texts from the camera may hold bytes of any code page; those
                // above ASCII are escaped so the document stays valid UTF-8.
                if (c < 0x20 || c >= 0x80) {
                    char escaped[8];
                    std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
                    out += escaped;
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    out += '"';
    return out;
}

}  // namespace vela2cam
