#!/usr/bin/env bash
# Starts the gateway host on 127.0.0.1:8080 with the sample configuration
# (used by `make run`). Usage: scripts/run.sh BUILD_DIR
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-build}" && pwd)"
host="$build/korvane-host"
config="$root/examples/korvane-config.xml"
listen="127.0.0.1:8080"
if [ ! -x "$host" ]; then
    echo "run.sh: $host is missing; build first (make build)" >&2
    exit 1
fi
cat <<EOT
Starting korvane-host on http://$listen/ (Ctrl-C stops it). Open the web console in a browser:

  http://$listen/

or try, in another terminal:

  curl -s --data-binary @$root/examples/requests/sample-age.xml http://$listen/

  $host query "Sample Age" --config $config

  $host query "Norlo Server - Users" --config $config

The backup server tables answer from the built-in sample server unless NORLO_SERVER_STATE
names a state document (in the environment of the query, or of this server).

The plug-in's trace goes to $build/korvane-trace.log; events are printed below.
EOT
exec "$host" serve --listen "$listen" --config "$config" --trace-file "$build/korvane-trace.log"
