#pragma once

#include <filesystem>
#include <string>

namespace veltra::demo {

/// A user's own project, as the site program is told of it.
struct ProjectSiteOptions
{
    std::filesystem::path model;   ///< the building model (any format the viewer reads)
    std::string title;             ///< shown by the page; the model's file name without extension when empty
    std::filesystem::path tasks;   ///< the task list (JSON); empty for a model without schedule
    std::filesystem::path binding; ///< the binding (JSON); given exactly when `tasks` is
};

/// The description the page reads (project.json) for the demo: the building, its schedule, the
/// model node the page's show and hide buttons name, and plan-against-actual mode.
std::string demoProjectDescription();

/// Writes the site of a user's project into `folder` (created when missing): the page files (see
/// writePageFiles), the model under its own file name (hard-linked when the file system allows,
/// copied otherwise; left alone when it is that very file already), tasks.json and binding.json
/// when a schedule is given (copied unless they are those files already), and project.json naming
/// them. Nothing is written outside `folder`. Throws std::runtime_error naming the file when a
/// file is missing or cannot be written, or when the model's name is one of the site's own files.
void writeProjectSite(const std::filesystem::path& folder, const ProjectSiteOptions& options);

} // namespace veltra::demo
