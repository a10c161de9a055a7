// The device the tests run on, seen the same way whether it is the emulated one or a real GPU: a
// fresh start for each case and a check that a case left the device in order.
#ifndef INFERLET_TESTS_DEVICE_STATE_H_
#define INFERLET_TESTS_DEVICE_STATE_H_

namespace inferlet_test {

// Emulated: clears the call counters, the trace and pending faults. Real CUDA: clears the last error
// an earlier case of the same process may have left behind.
void ResetDevice();

// Emulated: forgets the call trace, which otherwise grows with every call of a long run. Real CUDA:
// nothing to forget.
void ClearDeviceTrace();

// Emulated: no out-of-bounds access, nothing allocated, no stream, graph or executable graph left.
// Real CUDA: the device synchronizes and no asynchronous error is pending. Reports through gtest.
void ExpectDeviceClean();

}  // namespace inferlet_test

#endif  // INFERLET_TESTS_DEVICE_STATE_H_
