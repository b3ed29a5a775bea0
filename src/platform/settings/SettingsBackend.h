#pragma once

#include <optional>

#include <QString>

// The per-user store of named text values: an INI file at
// $XDG_CONFIG_HOME/domivox/registry.ini (~/.config/domivox/registry.ini without the variable),
// one section per key path. Text values are written quoted; anything else found in the file
// (a bare number, a list, a byte array another program wrote, a line a crash cut short, bytes
// that are not UTF-8) is kept as it stands but is not a plain string.
namespace platform::SettingsBackend {

QString filePath();

// The stored text, or nothing when the value is missing or is not a plain string.
// Reading never creates the file or its directory.
std::optional<QString> read(const QString& keyPath, const QString& name);

// Creates what is missing and stores the text. Returns false when the file could not be
// written; the first failure of a run of failures is reported on stderr.
bool write(const QString& keyPath, const QString& name, const QString& value);

// Forgets the value (every line of it); true when it is gone (or was never there). A missing file
// stays missing; a file that cannot be read is a failure.
bool remove(const QString& keyPath, const QString& name);

// Like read, but also takes a value a hand edit left without its quotes (a bare path), for the
// few values people are told they may edit. Anything else that is not text still reads as missing.
std::optional<QString> readHandEdited(const QString& keyPath, const QString& name);

bool keyExists(const QString& keyPath);

// Why the settings file cannot be read (its reason in words), or nothing when it can be or does
// not exist. Every read of an unreadable file gives the missing value; this tells it apart.
std::optional<QString> readProblem();

// Why the last write or remove failed, in words; empty after one that succeeded.
QString lastSaveFailure();

}  // namespace platform::SettingsBackend
