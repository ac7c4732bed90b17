// Failures are numbered as Windows Sockets numbers them, on every platform,
// so that a report prints the same number for the same failure everywhere.
// The POSIX backend translates errno into these.
#ifndef VEXMO_COMMON_WINSOCK_ERRORS_H
#define VEXMO_COMMON_WINSOCK_ERRORS_H

namespace vexmo {

constexpr int kErrorInterrupted = 10004;           // WSAEINTR
constexpr int kErrorAccessDenied = 10013;          // WSAEACCES
constexpr int kErrorBadAddress = 10014;            // WSAEFAULT
constexpr int kErrorInvalidArgument = 10022;       // WSAEINVAL
constexpr int kErrorTooManySockets = 10024;        // WSAEMFILE
constexpr int kErrorWouldBlock = 10035;            // WSAEWOULDBLOCK
constexpr int kErrorInProgress = 10036;            // WSAEINPROGRESS
constexpr int kErrorAlready = 10037;               // WSAEALREADY
constexpr int kErrorNotSocket = 10038;             // WSAENOTSOCK
constexpr int kErrorDestinationRequired = 10039;   // WSAEDESTADDRREQ
constexpr int kErrorMessageSize = 10040;           // WSAEMSGSIZE
constexpr int kErrorProtocolType = 10041;          // WSAEPROTOTYPE
constexpr int kErrorNoProtocolOption = 10042;      // WSAENOPROTOOPT
constexpr int kErrorProtocolNotSupported = 10043;  // WSAEPROTONOSUPPORT
constexpr int kErrorNotSupported = 10045;          // WSAEOPNOTSUPP
constexpr int kErrorFamilyNotSupported = 10047;    // WSAEAFNOSUPPORT
constexpr int kErrorAddressInUse = 10048;          // WSAEADDRINUSE
constexpr int kErrorAddressNotAvailable = 10049;   // WSAEADDRNOTAVAIL
constexpr int kErrorNetworkDown = 10050;           // WSAENETDOWN
constexpr int kErrorNetworkUnreachable = 10051;    // WSAENETUNREACH
constexpr int kErrorConnAborted = 10053;           // WSAECONNABORTED
constexpr int kErrorConnReset = 10054;             // WSAECONNRESET
constexpr int kErrorNoBuffers = 10055;             // WSAENOBUFS
constexpr int kErrorIsConnected = 10056;           // WSAEISCONN
constexpr int kErrorNotConnected = 10057;          // WSAENOTCONN
constexpr int kErrorTimedOut = 10060;              // WSAETIMEDOUT
constexpr int kErrorConnRefused = 10061;           // WSAECONNREFUSED
constexpr int kErrorHostDown = 10064;              // WSAEHOSTDOWN
constexpr int kErrorHostUnreachable = 10065;       // WSAEHOSTUNREACH

}  // namespace vexmo

#endif  // VEXMO_COMMON_WINSOCK_ERRORS_H
