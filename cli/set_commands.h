// What velkpatch does with sets: making one from two folders, listing its files, finding its
// anchor in a folder, and checking it file by file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cli/arguments.h"
#include "file/native_path.h"
#include "file/velk_xfile.h"
#include "maker/patch_builder.h"
#include "maker/set_builder.h"

namespace velk_cli {

// The failure of making a set, in words; empty for success.
std::string DescribeSetBuildError(VelkSetBuildStatus status, const CVELK_SetBuilder& builder,
                                  const CommandLine& command);
// The line create prints once the set is written.
std::string SetCreatedLine(const CVELK_SetBuilder& builder);
// The set's files, a line each: kind, path, sizes and CRC-32s. Empty when the set does not read.
std::string SetListing(CVELK_xFile& patch, int64_t setOffset);
// Where a set's anchor lies for a TARGET that is a folder: the folder and the anchor's path. The
// target itself where it is not a folder or the set does not read.
NativeString AnchorIn(CVELK_xFile& patch, int64_t setOffset, const NativeString& target);
// The anchors of the sets whose applications left their set journal somewhere in the folder
// tree at `folder` (links are not followed). False when a folder cannot be read.
bool FindInterruptedSets(const NativeString& folder, std::vector<NativeString>* anchors);
// check of a set: a line a file, one exit code for the set.
int CheckSet(CVELK_xFile& patch, int64_t setOffset, const NativeString& anchor);

}  // namespace velk_cli
