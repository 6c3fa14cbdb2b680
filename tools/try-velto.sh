#!/bin/sh
# Velto with both stand-in peers, in one tmux session of three panes: the grid
# (velto-grid), the video app (velto-video) and velto itself. Default ports;
# velto keeps its settings in a file of its own here, so the real ones stay as
# they are. Usage: tools/try-velto.sh [build directory, default: build]
set -eu

build=${1:-build}
session=velto-try
settings=${TMPDIR:-/tmp}/velto-try.settings

for program in "$build/velto" "$build/tools/velto-grid/velto-grid" "$build/tools/velto-video/velto-video"; do
    if [ ! -x "$program" ]; then
        echo "try-velto: $program not found; build first (cmake --preset default && cmake --build --preset tools)" >&2
        exit 1
    fi
done
if ! command -v tmux >/dev/null 2>&1; then
    echo "try-velto: tmux is not installed; run the three commands of \"Try it without hardware\" in README.md in three terminals" >&2
    exit 1
fi
if tmux has-session -t "$session" 2>/dev/null; then
    echo "try-velto: the tmux session '$session' runs already (tmux attach -t $session, or tmux kill-session -t $session)" >&2
    exit 1
fi

tmux new-session -d -s "$session" -x 120 -y 42 "$build/tools/velto-grid/velto-grid"
tmux split-window -t "$session" -v -l 24 "$build/tools/velto-video/velto-video"
# velto last, once the peers listen: its greeting gets the video app's answer.
tmux split-window -t "$session" -v -l 10 "sleep 0.5; exec '$build/velto' --settings '$settings'"
# tmux hands mouse presses and releases to the pane's program only with this on.
tmux set-option -t "$session" mouse on >/dev/null
tmux select-pane -t "$session:0.0"
echo "try-velto: q quits a tool; tmux kill-session -t $session ends all three"
if [ -n "${TMUX:-}" ]; then
    tmux switch-client -t "$session" || echo "try-velto: attach with: tmux attach -t $session"
else
    tmux attach-session -t "$session"
fi
