#pragma once

#include <string>
#include <utility>
#include <variant>

// Why something could not be done, in the words the user is shown: one or more lines, each
// ending in a line feed. A check returns one or nothing; a step that makes something returns
// what it made or one (Expected). Only the launch writes them out.
struct Failure {
    std::string message;

    bool operator==(const Failure&) const = default;
};

// What was made, or why not (a Failure unless the step says more).
template <typename T, typename Why = Failure>
class Expected {
  public:
    Expected(T value) : held_(std::move(value)) {}
    Expected(Why why) : held_(std::move(why)) {}

    explicit operator bool() const { return held_.index() == 0; }
    T& operator*() { return std::get<0>(held_); }
    const T& operator*() const { return std::get<0>(held_); }
    T* operator->() { return &std::get<0>(held_); }
    const T* operator->() const { return &std::get<0>(held_); }
    const Why& failure() const { return std::get<1>(held_); }

  private:
    std::variant<T, Why> held_;
};
