#include "platform/posix/errors.h"

#include <cerrno>

#include "common/winsock_errors.h"

namespace vexmo {

int winsock_error_from_errno(int error) {
  switch (error) {
    case EINTR:
      return kErrorInterrupted;
    case EBADF:
    case ENOTSOCK:
      return kErrorNotSocket;
    case EACCES:
    case EPERM:
      return kErrorAccessDenied;
    case EFAULT:
      return kErrorBadAddress;
    case EINVAL:
      return kErrorInvalidArgument;
    case EMFILE:
      return kErrorTooManySockets;
    case EAGAIN:
#if EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK:
#endif
    case ETIMEDOUT:
      return kErrorTimedOut;
    case EINPROGRESS:
      return kErrorInProgress;
    case EALREADY:
      return kErrorAlready;
    case EDESTADDRREQ:
      return kErrorDestinationRequired;
    case EMSGSIZE:
      return kErrorMessageSize;
    case EPROTOTYPE:
      return kErrorProtocolType;
    case ENOPROTOOPT:
      return kErrorNoProtocolOption;
    case EPROTONOSUPPORT:
      return kErrorProtocolNotSupported;
    case EOPNOTSUPP:
      return kErrorNotSupported;
    case EAFNOSUPPORT:
      return kErrorFamilyNotSupported;
    case EADDRINUSE:
      return kErrorAddressInUse;
    case EADDRNOTAVAIL:
      return kErrorAddressNotAvailable;
    case ENETDOWN:
      return kErrorNetworkDown;
    case ENETUNREACH:
      return kErrorNetworkUnreachable;
    case ECONNABORTED:
      return kErrorConnAborted;
    case ECONNRESET:
      return kErrorConnReset;
    case ENOBUFS:
    case ENOMEM:
      return kErrorNoBuffers;
    case EISCONN:
      return kErrorIsConnected;
    case ENOTCONN:
      return kErrorNotConnected;
    case ECONNREFUSED:
      return kErrorConnRefused;
    case EHOSTDOWN:
      return kErrorHostDown;
    case EHOSTUNREACH:
      return kErrorHostUnreachable;
    default:
      return error;
  }
}

Outcome errno_outcome() {
  return -winsock_error_from_errno(errno);
}

}  // namespace vexmo
