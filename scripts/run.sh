#!/usr/bin/env bash
# The main job on a fresh Debian 12 machine: installs what is missing, builds the host, then starts
# veltra-host with the generated demo site and prints the address to open in a browser (Chromium or
# Firefox). The page embeds the viewer through <object type="application/x-veltra">; the host draws
# it on the current X display, or on a private Xvfb when there is none. Ctrl+C stops the host.
# Arguments go to the host (see `build/bin/veltra-host --help`).
#
# With --project the same page shows a user's own building and schedule:
#
#   scripts/run.sh --project DIR --model house.ifc --plan plan.xml --links links.csv
#                  [--link-task COLUMN] [--task-key wbs|id|uid|name] [--link-element COLUMN] [--element-key guid|id]
#                  [--title TEXT] [--no-build] [host options]
#   scripts/run.sh --project DIR --model house.ifc --ifc-schedule      (the model's own work schedule)
#   scripts/run.sh --project DIR --model M --tasks T.json --binding B.json   (a schedule converted already)
#   scripts/run.sh --project DIR --model house.glb                     (any model the viewer reads, no schedule)
#
# DIR receives everything: the page, project.json, the model (hard-linked or copied), tasks.json and
# binding.json from veltra-schedule, and the viewer's file cache (DIR/veltra-cache, emptied at each
# start so that a changed model is read afresh). Nothing of the user's is written anywhere else, and a
# folder that is not from an earlier run keeps its own files: one the site would replace stops the command.
# --no-build skips the installation and the build and uses the programs already built.
# VELTRA_BUILD_DIR names the build folder (default: build/ of this clone).
# Exit status: 2 for a usage error, 1 when a file cannot be read or the schedule cannot be converted.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${VELTRA_BUILD_DIR:-$root/build}

usage() {
    echo "run.sh: $1" >&2
    echo "usage: scripts/run.sh [host options]" >&2
    echo "       scripts/run.sh --project DIR --model FILE [--plan plan.xml --links links.csv [schedule options]" >&2
    echo "                      | --ifc-schedule | --tasks T.json --binding B.json] [--title TEXT] [--no-build]" >&2
    echo "                      [host options]" >&2
    exit 2
}

fail() {
    echo "run.sh: $1" >&2
    exit 1
}

project="" model="" title="" plan="" links="" tasks="" binding="" ifc_schedule=false build_step=true
schedule_options=()
host_args=()
while [ $# -gt 0 ]; do
    case "$1" in
        --project | --model | --title | --plan | --links | --tasks | --binding | \
        --link-task | --task-key | --link-element | --element-key)
            [ $# -ge 2 ] && [ -n "$2" ] || usage "$1 needs a value"
            case "$1" in
                --project) project=$2 ;;
                --model) model=$2 ;;
                --title) title=$2 ;;
                --plan) plan=$2 ;;
                --links) links=$2 ;;
                --tasks) tasks=$2 ;;
                --binding) binding=$2 ;;
                *) schedule_options+=("$1" "$2") ;;
            esac
            shift 2
            ;;
        --ifc-schedule) ifc_schedule=true; shift ;;
        --no-build) build_step=false; shift ;;
        *) host_args+=("$1"); shift ;;
    esac
done

# The host's own --site would replace the project's folder.
if [ -n "$project" ]; then
    for argument in ${host_args[@]+"${host_args[@]}"}; do
        case "$argument" in --site | --site=*) usage "--site is the project folder; leave it out with --project" ;; esac
    done
fi

# What the arguments ask for: the demo, or a project with one kind of schedule (or none).
schedule=none
if [ -n "$plan$links" ]; then schedule=plan; fi
if $ifc_schedule; then [ "$schedule" = none ] || usage "--ifc-schedule and --plan/--links exclude each other"; schedule=ifc; fi
if [ -n "$tasks$binding" ]; then [ "$schedule" = none ] || usage "--tasks/--binding and another schedule exclude each other"; schedule=converted; fi
if [ -z "$project" ]; then
    [ -z "$model$title" ] && [ "$schedule" = none ] && [ ${#schedule_options[@]} -eq 0 ] ||
        usage "--model and the schedule options need --project DIR"
else
    [ -n "$model" ] || usage "--project needs --model FILE"
    case "$schedule" in
        plan) [ -n "$plan" ] && [ -n "$links" ] || usage "--plan and --links go together" ;;
        converted) [ -n "$tasks" ] && [ -n "$binding" ] || usage "--tasks and --binding go together" ;;
    esac
    [ ${#schedule_options[@]} -eq 0 ] || [ "$schedule" = plan ] || usage "--link-task, --task-key, --link-element and --element-key go with --plan"
    if [ "$schedule" = ifc ]; then
        case "${model,,}" in *.ifc) ;; *) usage "--ifc-schedule reads the schedule from an .ifc model" ;; esac
    fi
    # Every named file is checked before anything is built.
    for file in "$model" "$plan" "$links" "$tasks" "$binding"; do
        [ -z "$file" ] && continue
        [ -e "$file" ] || fail "$file: no such file"
        [ -f "$file" ] || fail "$file: not a file"
        [ -r "$file" ] || fail "$file: not readable"
    done
    if [ -e "$project" ] && [ ! -d "$project" ]; then fail "$project: not a folder"; fi
    # A folder that holds no project.json is not a site of ours: the user's own files there that the
    # site would replace stop the command instead.
    if [ -d "$project" ] && [ ! -e "$project/project.json" ]; then
        written=(index.html demo.css demo.js background.png sky veltra-cache tasks.json binding.json)
        for name in "${written[@]}"; do
            [ -e "$project/$name" ] || continue
            [ "$name" = tasks.json ] && [ -n "$tasks" ] && [ "$project/$name" -ef "$tasks" ] && continue
            [ "$name" = binding.json ] && [ -n "$binding" ] && [ "$project/$name" -ef "$binding" ] && continue
            fail "$project/$name exists and was not written by an earlier run; name a new or empty folder"
        done
    fi
fi

if $build_step; then
    "$root/scripts/install-deps.sh"
    cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
    # Only what the host starts: the host program brings the plug-in and the demo site; a project also
    # needs the model readers and the schedule converter. The tests and benchmarks (scripts/test.sh)
    # build in the same folder, on what this leaves there.
    targets=(veltra-host)
    [ -n "$project" ] && targets+=(veltra-demo-site osgdb_ifc osgdb_gltf)
    if [ "$schedule" = plan ] || [ "$schedule" = ifc ]; then targets+=(veltra-schedule); fi
    cmake --build "$build" -j "$(nproc)" --target "${targets[@]}"
fi

host=$build/bin/veltra-host
[ -x "$host" ] || fail "$host is not built (run without --no-build)"
if [ -z "$project" ]; then
    exec "$host" ${host_args[@]+"${host_args[@]}"}
fi

mkdir -p "$project" || fail "cannot create the folder $project"
project=$(cd "$project" && pwd)
case "$schedule" in
    plan | ifc)
        converter=$build/bin/veltra-schedule
        [ -x "$converter" ] || fail "$converter is not built (run without --no-build)"
        if [ "$schedule" = plan ]; then
            command=("$converter" --plan "$plan" --links "$links" --model "$model" --out "$project"
                     ${schedule_options[@]+"${schedule_options[@]}"})
            # A model that is not IFC has no GlobalIds to bind by; the links then name element ids.
            case "${model,,}" in *.ifc) ;; *) command=("$converter" --plan "$plan" --links "$links" --out "$project"
                                                       ${schedule_options[@]+"${schedule_options[@]}"}) ;; esac
        else
            command=("$converter" --ifc-schedule "$model" --out "$project")
        fi
        "${command[@]}" || fail "the schedule could not be converted (veltra-schedule exited with $?); nothing was started"
        tasks=$project/tasks.json
        binding=$project/binding.json
        ;;
esac

site_args=(--model "$model")
[ -n "$title" ] && site_args+=(--title "$title")
[ -n "$tasks" ] && site_args+=(--tasks "$tasks" --binding "$binding")
"$build/bin/veltra-demo-site" "$project" "${site_args[@]}" || fail "the project's site could not be written into $project"

rm -rf "$project/veltra-cache"
export VELTRA_CACHE_DIR=$project/veltra-cache
exec "$host" --site "$project" ${host_args[@]+"${host_args[@]}"}
