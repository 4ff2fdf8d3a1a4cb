#pragma once
// Stand-in until the PIN entry lands: what a pinpad reader is doing.
enum class PinPadReaderState { errorOccuredThatCouldJustifyRetry, timeout, waiting };
