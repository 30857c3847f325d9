#pragma once
// Enumeration over a key's subkeys or values. An iterator keeps the key alive
// through its own reference, so the key object may go first. The end position
// holds no key; all end positions are equal.

#include <cstdint>
#include <string>

#include "settings/CRegistryKey.h"
#include "settings/GrowOnlyBuffer.h"

class CRegKeyIterator {
  public:
    virtual ~CRegKeyIterator() = default;

    bool operator==(const CRegKeyIterator& other) const;
    bool operator!=(const CRegKeyIterator& other) const { return !(*this == other); }

  protected:
    CRegKeyIterator() = default;
    explicit CRegKeyIterator(const CRegistryKey& key) : key_(key) {}
    CRegKeyIterator(const CRegKeyIterator&) = default;
    CRegKeyIterator& operator=(const CRegKeyIterator&) = default;

    // One step of the walk: fetch(index) gives a registry result; 234 grows
    // the buffers (grow(info) says whether there is still anything to fetch)
    // and fetches again, 259 ends the walk, other errors throw `where`.
    template <typename Fetch, typename Grow>
    void Step(Fetch fetch, Grow grow, const char* where);

    platform::RegKeyInfo QueryInfo(const char* where) const;
    bool AtEnd() const { return key_.IsNull(); }
    platform::RegKey Handle() const { return key_.Handle(); }

  private:
    CRegistryKey key_;
    uint32_t index_ = 0;
};

class CRegistryKey::SubkeyIteratorImpl : public CRegKeyIterator {
  public:
    const char* Name() const { return name_.Data() ? name_.Data() : ""; }
    const char* ClassName() const { return class_.Data() ? class_.Data() : ""; }

  protected:
    SubkeyIteratorImpl() = default;
    explicit SubkeyIteratorImpl(const CRegistryKey& key);
    void Move();

  private:
    void Grow(const platform::RegKeyInfo& info);

    GrowOnlyBuffer<char> name_;
    GrowOnlyBuffer<char> class_;
};

class CRegistryKey::ValueIteratorImpl : public CRegKeyIterator {
  public:
    const char* Name() const { return name_.Data() ? name_.Data() : ""; }
    uint32_t Type() const { return type_; }
    const uint8_t* Data() const { return data_.Data(); }
    uint32_t Size() const { return size_; }
    // The text form of the current value, worked out on first use.
    const char* AsString() const;

  protected:
    ValueIteratorImpl() = default;
    explicit ValueIteratorImpl(const CRegistryKey& key);
    void Move();

  private:
    void Grow(const platform::RegKeyInfo& info);

    GrowOnlyBuffer<char> name_;
    GrowOnlyBuffer<uint8_t> data_;
    uint32_t type_ = 0;
    uint32_t size_ = 0;
    mutable std::optional<std::string> text_;
};
