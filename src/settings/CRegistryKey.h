#pragma once
// An open registry key whose handle is shared by copies, with its values,
// iterators and exceptions. Every failure is thrown as CRegistryKey::Exception
// carrying the failing operation and the system's error code.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/Registry.h"
#include "settings/CWin32Exception.h"

class CCountedRegKey;
template <typename Impl>
class TRegKeyIterator;

class CRegistryKey {
  public:
    class Exception;
    class Value;
    class SubkeyIteratorImpl;
    class ValueIteratorImpl;
    using SubkeyIterator = TRegKeyIterator<SubkeyIteratorImpl>;
    using ValueIterator = TRegKeyIterator<ValueIteratorImpl>;

    // Takes ownership of an open handle.
    explicit CRegistryKey(platform::RegKey key);
    // Opens parent\subkey, on machine's registry when a machine is named.
    CRegistryKey(platform::RegKey parent, const char* subkey, uint32_t access,
                 const char* machine = nullptr);
    CRegistryKey(const CRegistryKey& other);
    CRegistryKey& operator=(const CRegistryKey& other);
    ~CRegistryKey();

    // Drops this copy's share of the handle; the key is null afterwards.
    void Release();
    bool IsNull() const { return key_ == nullptr; }
    platform::RegKey Handle() const;
    const CCountedRegKey* Holder() const { return key_; }

    CRegistryKey OpenKey(const char* subkey, uint32_t access) const;
    // Never throws: any failure to open counts as absent.
    bool HasSubkey(const char* subkey, uint32_t access) const;
    CRegistryKey CreateOrOpenKey(const char* subkey, const char* className, uint32_t options,
                                 uint32_t access, void* security, uint32_t* disposition) const;
    // As CreateOrOpenKey, but an existing key is an error (183).
    CRegistryKey CreateKey(const char* subkey, const char* className, uint32_t options,
                           uint32_t access, void* security) const;

    Value QueryValue(const char* name) const;
    // type must be REG_SZ or REG_EXPAND_SZ (else 1004); the terminator is stored.
    void SetValue(const char* name, const char* text, uint32_t type) const;
    void SetValue(const Value& value) const;

    SubkeyIterator BeginSubkeys() const;
    SubkeyIterator EndSubkeys() const;
    ValueIterator BeginValues() const;
    ValueIterator EndValues() const;

    static CCountedRegKey* NewCCountedRegKey(platform::RegKey key, bool closeOnFailure);

  private:
    friend class CRegKeyIterator;
    CRegistryKey() = default;  // the null key of end iterators

    CCountedRegKey* key_ = nullptr;
};

class CRegistryKey::Exception : public CWin32Exception {
  public:
    using CWin32Exception::CWin32Exception;
};

// One named value: type and an owned copy of its bytes.
class CRegistryKey::Value {
  public:
    class Exception;

    Value(const char* name, const void* data, uint32_t size, uint32_t type);
    // A string value; type must be REG_SZ or REG_EXPAND_SZ.
    Value(const char* name, const char* text, uint32_t type);

    const char* Name() const { return name_.c_str(); }
    uint32_t Type() const { return type_; }
    const uint8_t* Data() const { return data_.data(); }
    uint32_t Size() const { return static_cast<uint32_t>(data_.size()); }
    // The text form, worked out on first use.
    const char* AsString() const;

  private:
    std::string name_;
    uint32_t type_;
    std::vector<uint8_t> data_;
    mutable std::optional<std::string> text_;
};

class CRegistryKey::Value::Exception : public CRegistryKey::Exception {
  public:
    Exception() : CRegistryKey::Exception("CRegistryKey::Value::Exception", 87) {}
};

#include "settings/TRegKeyIterator.h"
