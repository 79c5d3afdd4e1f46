#pragma once
// The port error an action raises; a test failure when it raises none.

#include <gtest/gtest.h>

#include "serial/ComError.h"

namespace vardelio::test {

template <typename F>
EComPort Raised(F&& action) {
  try {
    action();
  } catch (const EComPort& error) {
    return error;
  }
  ADD_FAILURE() << "no EComPort raised";
  return EComPort(0);
}

}  // namespace vardelio::test
