#pragma once
// The files of kestrel-assemble in its output folder: poses.json (every scan's placement and
// every pair's verdict), one results file per placed scan in the layout of results.tfm, and
// merged.ply, every placed scan in the first file's coordinates with its scan index. The folder
// is created when missing, and refused when it holds files that the command did not write.

#include <ostream>
#include <string>
#include <vector>

#include "assembly/assembly_records.h"
#include "core/point_set.h"

namespace kestrel::app {

// The folder's own files: poses.json and merged.ply.
inline constexpr const char* kPosesFile = "poses.json";
inline constexpr const char* kMergedFile = "merged.ply";

// The results file of scan `index` named `file`: its stem, numbered when stems repeat.
std::vector<std::string> results_file_names(const std::vector<std::string>& files);

// poses.json: the record of the layout, numbers with every digit a double carries, so
// that two runs that agree write the same bytes. `results` names each scan's results file.
void write_poses_json(std::ostream& out, const assembly::AssemblyResult& result,
                      const std::vector<std::string>& files,
                      const std::vector<std::string>& results);

// Creates `folder` when missing. False, with the reason, when it is not a folder, cannot be
// made, or holds anything but what an earlier run of the command wrote there (poses.json,
// merged.ply and the results files its poses.json names).
bool prepare_output_folder(const std::string& folder, std::string* error);

// Writes poses.json, the results files of the placed scans and merged.ply into `folder`, all
// or none, and removes results files of an earlier run that this one does not write. `scans`
// are the points as read.
bool write_assembly_files(const std::string& folder, const assembly::AssemblyResult& result,
                          const std::vector<std::string>& files,
                          const std::vector<const core::PointSet*>& scans, std::string* error);

}  // namespace kestrel::app
