// The C library switched to a comma-decimal locale for the life of the
// object, as the UI toolkit switches it for a German or French user, and
// switched back afterwards. Make one before starting threads that format or
// read numbers, and let them end before it goes.
//
// A machine without such a locale fails the test that asks for one rather
// than passing it unseen: scripts/setup.sh installs de_DE.UTF-8.
#pragma once

#include <gtest/gtest.h>

#include <clocale>
#include <string>

namespace zandrel::test {

class ScopedCommaLocale {
 public:
  ScopedCommaLocale() : previous_(std::setlocale(LC_ALL, nullptr)) {
    for (const char* name : {"de_DE.UTF-8", "fr_FR.UTF-8", "de_DE.utf8", "fr_FR.utf8"}) {
      if (std::setlocale(LC_ALL, name) && std::localeconv()->decimal_point[0] == ',') {
        name_ = name;
        return;
      }
    }
    std::setlocale(LC_ALL, previous_.c_str());
    ADD_FAILURE() << "no comma-decimal locale is installed; scripts/setup.sh installs de_DE.UTF-8";
  }
  ~ScopedCommaLocale() { std::setlocale(LC_ALL, previous_.c_str()); }
  ScopedCommaLocale(const ScopedCommaLocale&) = delete;
  ScopedCommaLocale& operator=(const ScopedCommaLocale&) = delete;

  const std::string& Name() const { return name_; }  // empty: none was found

 private:
  std::string previous_;
  std::string name_;
};

}  // namespace zandrel::test
