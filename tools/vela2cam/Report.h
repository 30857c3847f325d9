#pragma once
// What a command tells its user: aligned "label: value" lines on a terminal
// or in a pipe, or one JSON document with --json. Failures go to standard
// error as text, and into the document as well so scripts see them.

#include <cstdio>
#include <string>

#include "Json.h"
#include "Status.h"

namespace vela2cam {

class Report {
  public:
    explicit Report(bool json) : json_(json), root_(JsonValue::Object()) {}

    bool json() const { return json_; }
    // One value: a text line in text mode, a member of the document in JSON.
    void Field(const std::string& key, const std::string& label, JsonValue value,
               const std::string& text);
    // A line only the text form has.
    void Note(const std::string& text);
    // The document member itself, for nested values.
    JsonValue& root() { return root_; }

    // Prints the failure (text on stderr, the document with "ok": false on
    // stdout with --json) and returns its exit code.
    int Fail(const Failure& failure);
    // Prints the document with "ok": true (with --json) and returns 0.
    int Succeed();

  private:
    bool json_;
    JsonValue root_;
};

}  // namespace vela2cam
