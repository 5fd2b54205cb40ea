#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "image/load_result.h"
#include "image/memory_image.h"
#include "ops/view.h"

namespace zelwik {

// The image files every front end takes, and how a name picks one.
enum class FileFormat { Hex, Binary, Srec };

// "hex", "bin" or "srec" (any case), as --format takes them.
std::optional<FileFormat> FormatNamed(std::string_view name);
// By extension: .bin binary; .s19, .srec, .mot S-record; anything else Intel HEX.
FileFormat FormatOfFile(const std::string& path);

// Why a file was refused, for the status line: "wiersz 12: błędna suma kontrolna".
std::string RefusalText(const LoadResult& result);
// The same for the command line's and the job file's English messages:
// "line 12: checksum does not match".
std::string RefusalReason(const LoadResult& result, FileFormat format);

// Loads the file into a scratch image, Intel HEX through the forgiving loader, the other formats
// checked; `image` changes only when the whole file was accepted.
LoadResult LoadAnyFile(Image& image, const std::string& path);

// The window's load as the user sees it, in the format the name picks. Intel HEX as it always
// was; a binary or S-record file is listed as a HEX file is, or refused with its line and the
// image kept. Returns whether the image now holds the file.
bool LoadFileShown(Image& image, const std::string& path, View& view);

// The window's save in the format the name picks (a binary file holds addresses 0 to the last
// byte that is not 0xFF): " Zapisano N bajtów." or " Błąd I/O ...". No pause.
bool SaveFileShown(Image& image, const std::string& path, View& view);
// The same in the given format; a binary file holds `binaryBytes` bytes from address 0.
bool SaveFileShown(Image& image, const std::string& path, FileFormat format, int binaryBytes,
                   View& view);

}  // namespace zelwik
