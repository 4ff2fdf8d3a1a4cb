#pragma once
// The stand-in card-reader bridge: installed as "VexoConnect_2_12", started without arguments, it reads one
// framed request from standard input (4-byte little-endian length + UTF-8 JSON) and answers with one framed
// reply on standard output. It serves software cards and scripted faults for the tests and the demo.
//
// Setup: the JSON file named by the environment variable QUORVANE_BRIDGE_SETUP. Without it the bridge has no
// readers. Every key is optional.
//   {
//     "readers": [{
//       "name": "Reader 1",              "ReaderName" in replies
//       "type": "standard",              "ReaderType" as sent: "standard" or "pinpad"
//                                        (other texts pass through)
//       "cardType": "eid",
//       "card": {                        absent or null: an empty reader
//         "certificates": ["<PEM>"],     the card's certificates; the first is the one that signs
//         "key": "<PEM private key>",    the signing key (EC or RSA)
//         "pin": "1234",
//         "tries": 3,                    tries left before the first run
//         "maxTries": 3,                 tries a right PIN restores (default: "tries")
//         "blocked": false,
//         "removeDuringAuth": false      the card is pulled while an "AUTH" is under way (and stays out)
//       },
//       "pinpad": {                      how the holder uses the reader's keypad (pinpad readers only)
//         "pin": "1234",                 the PIN typed on the keypad
//         "delayMs": 0,                  typing time
//         "outcome": "enter"             "enter", "cancel" (general_error 27010)
//                                        or "timeout" (general_error 25600)
//       }
//     }],
//     "origins": ["https://..."],        the request origins served (default: the app's
//                                        "https://id.quorvane-sign.com")
//     "replyDelayMs": 0,                 delay before every reply
//     "terminateDelayMs": 0,             time a run takes to exit after a terminate request
//     "script": [<step>, ...]            step n applies to run n; later runs behave normally
//   }
// A step is an object with any of:
//   "waitForFile": "<path>"              answer only once that file exists
//   "delayMs": n                         delay before this run's reply
//   "terminateDelayMs": n                as in the setup, for this run
//   "reply": {...}                       this JSON object is the reply payload, as is
//   "replyText": "..."                   this text is the reply payload, as is
//   "fault": "threeByteLength"           3 length bytes, then exit
//            "shortPayload"              announce 10 bytes, send 6, exit
//            "zeroLength"                announce 0 bytes
//            "invalidUTF8"               a payload that is not UTF-8
//            "hugeLength"                announce "length" bytes (default 4294967295), send a few, then wait
//            "exitBeforeReading"         exit at once, without reading the request
//            "hang"                      read the request, then wait until terminated
//   "length": n                          the announced length of "hugeLength"
//   "hangAfterReply": true               after the reply, wait until terminated
//
// Requests are checked as a bridge checks them, and a refused one is answered "general_error" with the reason
// in "resultRaw", before any card or PIN is touched: an "origin" not in "origins" ("origin not allowed",
// every operation); a "USERCERTS" whose "keyusage" is not "DIGITALSIGNATURE" ("unsupported keyusage"); an
// "AUTH" whose "digest" is not Base64 ("invalid digest"), whose "algo" is none of "SHA-1", "SHA-224",
// "SHA-256", "SHA-384" and "SHA-512" ("unsupported algo"), or whose digest length differs from the algo's
// ("digest length does not match algo").
//
// Operations: "USERCERTS" lists every reader with the standard Base64 DER of its card's certificates. "AUTH"
// looks up the card whose certificate equals "cert", checks the PIN ("pin", or the keypad's on a pinpad
// reader) and answers "OK" with "signature"; a wrong PIN counts down the tries and answers
// "pin_3_attempts_left", "pin_2_attempts_left" or "pin_1_attempt_left", the last try blocks the card
// ("card_blocked"), and a right PIN restores "maxTries"; an unknown or removed card answers "no_card" (on a
// pinpad reader "general_error" with "resultRaw" "2148532246").
//
// The signature: the decoded "digest" bytes are signed as they are, as a prehashed digest of the "algo", with
// the card's key (EVP_PKEY_sign). An EC key gives the DER-encoded ECDSA-Sig-Value (X9.62), an RSA key PKCS#1
// v1.5 over the algo's DigestInfo. "signature" holds those bytes in standard Base64, so EVP_PKEY_verify with
// the certificate's key, the algo's digest and the same digest bytes accepts them.
//
// State that outlives one run lives next to the setup, in "<setup>.state" (JSON, guarded by flock):
//   "runs": the number of runs so far (the script's position);
//   "cards": {"<reader index>": {"triesLeft", "blocked", "removed"}};
//   "records": one per run: "run" (its number), "pid", "startTime" (the process's start time in clock ticks,
//   from /proc), "overlapping" (the numbers of earlier runs whose process still existed, even unreaped, when
//   this run began), "input" (standard Base64 of every byte read from standard input, frame included),
//   "inputClosedAfterPayload" (standard input ended right after the announced payload) and "terminated" (the
//   run ended by a terminate request, taken once it has read its request and while it waits).
#include <string>

namespace bridge {

inline constexpr const char* setupVariable = "QUORVANE_BRIDGE_SETUP";

// Runs the bridge once on file descriptors 0 and 1; returns the exit status.
int run();

}  // namespace bridge
