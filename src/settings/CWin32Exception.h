#pragma once
#include <cstdint>

// A failed system call: which operation failed (a static text) and the
// system's error code.
class CWin32Exception {
  public:
    CWin32Exception(const char* where, uint32_t error) : where_(where), error_(error) {}
    virtual ~CWin32Exception() = default;

    // The system's text for the error; for a code it has no text for, the
    // text of the failure that lookup reports ("cannot find message text").
    // The text lives in one buffer shared by all exceptions, valid until the
    // next call from any thread.
    virtual const char* GetMessage() const;

    // Shows the text in an error box captioned with the failing operation.
    // owner: the window the box belongs to, or null.
    void ShowMessage(void* owner = nullptr) const;

    const char* Where() const { return where_; }
    uint32_t Error() const { return error_; }

  private:
    const char* where_;
    uint32_t error_;
};
