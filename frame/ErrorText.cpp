// Messages for COM result codes.
#include "frame/ErrorText.h"

#include <cstdio>

namespace {

struct KnownMessage {
  DWORD code;
  const char* text;
};

// The codes that creating, calling and cancelling the switch produce here.
constexpr KnownMessage kMessages[] = {
    {0x80004001, "Not implemented"},
    {0x80004002, "No such interface supported"},
    {0x80004003, "Invalid pointer"},
    {0x80004005, "Unspecified error"},
    {0x8000FFFF, "Catastrophic failure"},
    {0x80070005, "Access is denied."},
    {0x8007000E, "Not enough memory resources are available to complete this operation."},
    {0x80070057, "The parameter is incorrect."},
    {0x80040154, "Class not registered"},
    {0x800401F0, "CoInitialize has not been called."},
    {0x80010002, "Call was canceled by the message filter."},
    {0x80010106, "Cannot change thread mode after it is set."},
    {0x80010108, "The object invoked has disconnected from its clients."},
    {0x8001010E, "The application called an interface that was marshalled for a different thread."},
    {0x800706BA, "The RPC server is unavailable."},
    {0x800706BE, "The remote procedure call failed."},
    {0x80080005, "Server execution failed"},
};

}  // namespace

std::string ComErrorMessage(HRESULT code) {
  const auto value = static_cast<DWORD>(code);
  for (const KnownMessage& message : kMessages) {
    if (message.code == value) return message.text;
  }
  char text[64];
  if (value >= 0x80040200u && value <= 0x8004FFFFu) {
    std::snprintf(text, sizeof text, "IDispatch error #%d",
                  static_cast<int>((value & 0xFFFFu) - 0x200u));
  } else {
    std::snprintf(text, sizeof text, "Unknown error 0x%0lX", static_cast<unsigned long>(value));
  }
  return text;
}
