#pragma once

#include <string>
#include <string_view>

namespace tavik::common {

// Appends text as a JSON string, quoted and escaped.
void appendJsonString(std::string& out, std::string_view text);

// Writes one JSON value in order, key by key, as the dump's contract lays it out.
class JsonWriter {
public:
    JsonWriter& beginObject();
    JsonWriter& endObject();
    JsonWriter& beginArray();
    JsonWriter& endArray();
    JsonWriter& key(std::string_view name);
    JsonWriter& value(std::string_view text);
    JsonWriter& value(const char* text) { return value(std::string_view(text)); }
    JsonWriter& value(bool flag);
    JsonWriter& value(int number);
    JsonWriter& value(long long number);
    JsonWriter& value(double number);
    JsonWriter& null();

    const std::string& str() const { return out_; }

private:
    void separate();
    std::string out_;
    bool first_ = true;
};

} // namespace tavik::common
