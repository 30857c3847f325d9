#pragma once
// A small JSON value for the --json output: enough to build one document per
// command and print it; scripts parse it, so the text must be strict JSON.

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace vela2cam {

class JsonValue {
  public:
    enum class Kind { Null, Bool, Number, Integer, String, Array, Object };

    JsonValue() = default;
    JsonValue(bool value) : kind_(Kind::Bool), bool_(value) {}
    JsonValue(int value) : kind_(Kind::Integer), integer_(value) {}
    JsonValue(int64_t value) : kind_(Kind::Integer), integer_(value) {}
    JsonValue(uint32_t value) : kind_(Kind::Integer), integer_(value) {}
    JsonValue(double value) : kind_(Kind::Number), number_(value) {}
    JsonValue(const char* value) : kind_(Kind::String), string_(value) {}
    JsonValue(std::string value) : kind_(Kind::String), string_(std::move(value)) {}

    static JsonValue Array() { return JsonValue(Kind::Array); }
    static JsonValue Object() { return JsonValue(Kind::Object); }

    // Members keep their insertion order so the output reads like the text form.
    JsonValue& Set(const std::string& key, JsonValue value);
    JsonValue& Append(JsonValue value);

    Kind kind() const { return kind_; }
    std::string Serialize() const;

  private:
    explicit JsonValue(Kind kind) : kind_(kind) {}
    void SerializeTo(std::string& out) const;

    Kind kind_ = Kind::Null;
    bool bool_ = false;
    int64_t integer_ = 0;
    double number_ = 0.0;
    std::string string_;
    std::vector<JsonValue> items_;
    std::vector<std::pair<std::string, JsonValue>> members_;
};

// The text as a JSON string literal, quotes included.
std::string JsonQuote(const std::string& text);

}  // namespace vela2cam
