#pragma once
// The message of the EModLinkError that Action raises, or "<no error>" when it
// raises none; any other exception goes on to fail the test.

#include <string>

#include "ModLinkError.h"

template <typename Fn>
std::string ErrorText(Fn&& Action) {
  try {
    Action();
  } catch (const EModLinkError& E) {
    return E.what();
  }
  return "<no error>";
}
