#pragma once
// What the array class throws: a pointer to one of its static texts. Copying
// copies the pointer, so throwing by value cannot fail.

namespace arrays {

class CArrayError {
  public:
    explicit CArrayError(const char* text) : text_(text) {}
    virtual ~CArrayError() = default;
    virtual const char* Text() const { return text_; }

  private:
    const char* text_;
};

}  // namespace arrays
