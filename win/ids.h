#pragma once

namespace zelwik::win {

// What other processes (the tests' probe) may rely on to find the window and its controls.
inline constexpr const wchar_t* kFormClass = L"ZelwikForm1";
inline constexpr int kFirstElementId = 100;  // then one id per element, in the description's order
inline constexpr int kFirstJobElementId = 200;   // the job strip's, in the description's order
inline constexpr int kFirstMenuId = 1000;        // then one id per menu item
inline constexpr int kFirstListedPortId = 3000;  // the Interfejs menu's present ports, in order
inline constexpr int kFirstRecentFileId = 3100;  // the Plik menu's recent files, in order
inline constexpr int kReadyTimerId = 1;

}  // namespace zelwik::win
