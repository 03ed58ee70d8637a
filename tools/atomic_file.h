// Writes that lose nothing: a file is written to a temporary file in the
// target's folder, every write and the close checked, flushed to disk, and
// only then renamed over the target. On any failure the old file stays as it
// was, the temporary file is removed and error says what failed.
#pragma once

#include <functional>
#include <string>

namespace classification {

bool writeFileAtomically(const std::string& path, const std::string& content, std::string& error);

// The same for a file that a writer produces on the temporary path it is
// given (for example through libsndfile); the writer reports its own errors.
bool replaceFileAtomically(const std::string& path,
                           const std::function<bool(const std::string& tempPath, std::string& error)>& writer,
                           std::string& error);

// Writes past a file-size limit then fail with an error instead of ending
// the process (SIGXFSZ ignored).
void reportOversizedWrites();

}  // namespace classification
