#pragma once
// The Windows names of thread priorities and priority classes, and a scope
// that applies a named pair to the process and a thread and restores the
// previous values when it ends.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/Priority.h"

bool IsThreadPriorityName(const std::string& name);
bool IsPriorityClassName(const std::string& name);

class CThreadPriority {
  public:
    // A fixed table of (value, name) in insertion order; names compare
    // case-sensitively and whole.
    template <typename T>
    class TNameTable {
      public:
        TNameTable(std::initializer_list<std::pair<T, const char*>> entries) : entries_(entries) {}
        bool Contains(const std::string& name) const;
        T Lookup(const std::string& name, T missing) const;

      private:
        std::vector<std::pair<T, const char*>> entries_;
    };
    class CThreadPrioityMap : public TNameTable<int32_t> {
      public:
        CThreadPrioityMap();
    };
    class CThreadPriorityClassMap : public TNameTable<uint32_t> {
      public:
        CThreadPriorityClassMap();
    };

    static const CThreadPrioityMap& ThreadPriorities();
    static const CThreadPriorityClassMap& PriorityClasses();

    // Unknown names count as THREAD_PRIORITY_NORMAL and NORMAL_PRIORITY_CLASS.
    CThreadPriority(const std::string& threadPriorityName, platform::ThreadRef thread,
                    const std::string& priorityClassName, const std::string& label);
    ~CThreadPriority();
    CThreadPriority(const CThreadPriority&) = delete;
    CThreadPriority& operator=(const CThreadPriority&) = delete;

    int32_t GetThreadPriority() const { return ThreadPriority; }
    uint32_t GetPriorityClass() const { return PriorityClass; }
    const std::string& GetLabel() const { return Label; }

  private:
    int32_t ThreadPriority;
    int32_t SavedThreadPriority = 0;
    platform::ThreadRef Thread;
    uint32_t PriorityClass;
    uint32_t SavedPriorityClass = 0;
    std::string Label;
    bool ThreadPrioritySaved = false;
};
