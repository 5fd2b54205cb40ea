#pragma once

#include <cstdint>
#include <string>

namespace zelwik {

// Every status text and pause of the operations, the file ones included.
inline constexpr const char* kTextReady = " Gotowy...";
inline constexpr const char* kTextIoError = " Błąd I/O ...";

inline constexpr const char* kTextLinkFailure = "Błąd transmisji lub brak programatora";
inline constexpr const char* kTextNoChip = " Brak układu lub sygnatury";
inline constexpr const char* kTextCancelled = " Przerwano.";

inline constexpr const char* kTextTooLarge = " Za mało pamięci";
inline constexpr const char* kTextWriting = " Zapisywanie pamięci...";
// The program's own text, misspelt as users know it ("Zpisywanie"): do not correct it.
inline constexpr const char* kTextWritten = " Zpisywanie zakończono...";
inline constexpr const char* kTextReading = " Odczytywanie pamięci...";
inline constexpr const char* kTextRead = " Odczytywanie zakończono...";
inline constexpr const char* kTextVerifying = " Weryfikowanie pamięci...";
inline constexpr const char* kTextVerified = " Weryfikowanie zakończono...";

inline constexpr const char* kTextErased = " Układ wymazano...";
inline constexpr const char* kTextLocked = " Układ zablokowano...";
// The program's own text for lock bit 1 of the 5 V group ("zablakowano"): do not correct it.
inline constexpr const char* kTextLockedFiveVolt = " Układ zablakowano...";
inline constexpr const char* kTextNoSuchLock = " Układ nie posiada tej blokady !";

inline constexpr const char* kTextDeviceSignature = " Sygnatura układu=";
inline constexpr const char* kTextMakerSignature = " Sygnatura producenta=";
inline constexpr const char* kTextVoltageSignature = " Sygnatura napięcia=";
inline constexpr const char* kTextNoSuchSignature = " Układ nie posiada tej sygnatury";

inline constexpr int kPauseLinkFailureMs = 1500;
inline constexpr int kPauseTransferMs = 1500;  // program, read, verify, device and maker signature
inline constexpr int kPauseChipCommandMs = 2000;  // erase, locks, voltage signature
inline constexpr int kPauseFileErrorMs = 1500;    // a HEX file that could not be read

// " Błąd: AAAA jest RR ma byc II": address, the chip's byte, the image's byte.
std::string MismatchText(int address, std::uint8_t found, std::uint8_t expected);

}  // namespace zelwik
