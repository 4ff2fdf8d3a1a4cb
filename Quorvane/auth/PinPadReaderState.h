#pragma once
// What a pinpad reader is doing while the holder types the PIN on the reader itself.
enum class PinPadReaderState {
    errorOccuredThatCouldJustifyRetry,  // the reader's PIN entry failed or was cancelled; it may be retried
    timeout,                            // the time limit passed while the reader was waiting
    waiting,                            // the reader waits for the holder to type the PIN on it
};
