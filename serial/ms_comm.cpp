#include "serial/ms_comm.h"

namespace vorne {

namespace {

constexpr char kShort[] = VTS_I2;
constexpr char kLong[] = VTS_I4;
constexpr char kBool[] = VTS_BOOL;
constexpr char kString[] = VTS_BSTR;
constexpr char kVariant[] = VTS_VARIANT;

}  // namespace

void CMSComm::SetPortNumber(std::int16_t value) {
  InvokeHelper(comm_property::kCommPort, DISPATCH_PROPERTYPUT, VT_EMPTY, nullptr, kShort, value);
}

void CMSComm::SetReceiveBufferSize(std::int16_t value) {
  InvokeHelper(comm_property::kInBufferSize, DISPATCH_PROPERTYPUT, VT_EMPTY, nullptr, kShort,
               value);
}

std::int16_t CMSComm::GetReceivedCount() {
  std::int16_t count = 0;
  InvokeHelper(comm_property::kInBufferCount, DISPATCH_PROPERTYGET, VT_I2, &count, nullptr);
  return count;
}

void CMSComm::SetReadLength(std::int16_t value) {
  InvokeHelper(comm_property::kInputLen, DISPATCH_PROPERTYPUT, VT_EMPTY, nullptr, kShort, value);
}

void CMSComm::SetTransmitBufferSize(std::int16_t value) {
  InvokeHelper(comm_property::kOutBufferSize, DISPATCH_PROPERTYPUT, VT_EMPTY, nullptr, kShort,
               value);
}

void CMSComm::SetOpenState(bool open) {
  InvokeHelper(comm_property::kPortOpen, DISPATCH_PROPERTYPUT, VT_EMPTY, nullptr, kBool,
               open ? 1 : 0);
}

bool CMSComm::GetOpenState() {
  int open = 0;
  InvokeHelper(comm_property::kPortOpen, DISPATCH_PROPERTYGET, VT_BOOL, &open, nullptr);
  return open != 0;
}

void CMSComm::SetReceiveThreshold(std::int16_t value) {
  InvokeHelper(comm_property::kRThreshold, DISPATCH_PROPERTYPUT, VT_EMPTY, nullptr, kShort, value);
}

void CMSComm::SetLineSettings(const char16_t* settings) {
  InvokeHelper(comm_property::kSettings, DISPATCH_PROPERTYPUT, VT_EMPTY, nullptr, kString,
               settings);
}

void CMSComm::SetTransmitData(const VARIANT& data) {
  InvokeHelper(comm_property::kOutput, DISPATCH_PROPERTYPUT, VT_EMPTY, nullptr, kVariant, &data);
}

VARIANT CMSComm::GetReceivedData() {
  VARIANT data;
  InvokeHelper(comm_property::kInput, DISPATCH_PROPERTYGET, VT_VARIANT, &data, nullptr);
  return data;
}

void CMSComm::SetDataMode(std::int32_t mode) {
  InvokeHelper(comm_property::kInputMode, DISPATCH_PROPERTYPUT, VT_EMPTY, nullptr, kLong, mode);
}

}  // namespace vorne
