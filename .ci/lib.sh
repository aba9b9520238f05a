# SPDX-License-Identifier: ISC
# Sourced by every CI stage: how a stage names its steps and fails, the
# checks of what the programs print, and the cgroups, Debian roots and podman
# settings that stages share.

step() { printf '\n=== %s\n' "$*"; }
fail() { printf 'FAIL: %s\n' "$*" >&2; exit 1; }

# True when the number $1 is at least $2.
at_least() { awk -v a="$1" -v b="$2" 'BEGIN { exit !(a >= b) }'; }

# $1 is both reports of one process, and nothing else.
expect_reports() {
	local pid
	pid=$(printf '%s\n' "$1" | sed -n '1s/^Process: \([0-9][0-9]*\) - Begining to write to file\.$/\1/p')
	[ -n "$pid" ] && [ "$1" = "Process: $pid - Begining to write to file.
Process: $pid - Finished." ] || fail "expected both reports, got: $1"
}

# Runs cpuspend's command line "$@" with foo as its first argument and
# expects status 1, nothing on standard output and the one error message.
expect_rejected() {
	local status=0 out err
	err=$(mktemp)
	out=$("$@" foo 2>"$err") || status=$?
	[ "$status" -eq 1 ] && [ -z "$out" ] && [ "$(cat "$err")" = "Illegal flag: \`foo'" ] ||
		fail "$* foo: status $status, printed '$out', said '$(cat "$err")'"
	rm -f "$err"
}

# The project's version, as CMake was given it in the build directory $1.
project_version() { sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$1/CMakeCache.txt"; }

# The program tests a static build can take: all but those that preload a
# library into the program, which a static program cannot load.
static_filter() {
	echo "-Program.DurationComesFromTheCommandLineOrDefaultsToFive:Program.HugeDurationsSaturateInsteadOfWrapping:Program.InjectedFailures"
}

# Runs a check of the limit checker, "$@", where the verdict on this
# machine's load of the moment is not what is tested: it must make the
# check (status 0 or 1) and give its verdict.
expect_check() {
	local status=0 out
	out=$("$@") || status=$?
	printf '%s\n' "$out"
	[ "$status" -le 1 ] && grep -q '^verdict ' <<<"$out" ||
		fail "$*: exited $status without a verdict"
}

# Runs a checker's command line "$@" where the check cannot be made: it
# must exit 2 with one line on standard error and nothing on standard
# output, which it leaves in the stage's $work/out and $work/err.
expect_unable() {
	local status=0
	"$@" >"$work/out" 2>"$work/err" || status=$?
	cat "$work/err"
	[ "$status" -eq 2 ] && [ ! -s "$work/out" ] && [ "$(wc -l <"$work/err")" -eq 1 ] ||
		fail "$*: exited $status, not 2 with one line"
}

# The mount point of the cgroup v1 hierarchy holding the controller $1: in
# mountinfo the file system's type follows the lone "-", and its options
# come two fields later.
v1_mount() {
	awk -v c="$1" '{ for (i = 7; i < NF && $i != "-"; i++) ;
		if ($(i + 1) == "cgroup" && $(i + 3) ~ "(^|,)" c "(,|$)") { print $5; exit } }' /proc/self/mountinfo
}

# Runs "$@" after the first two arguments, the directories of a cgroup v1
# cgroup in the cpu and the cpuacct hierarchies, in both.
in_v1_cgroup() {
	sh -c 'echo $$ >"$1/cgroup.procs" && echo $$ >"$2/cgroup.procs" && shift 2 && exec "$@"' sh "$@"
}

# Removes the cgroup directories given that exist, moving what still runs
# in each to its parent first.
remove_cgroups() {
	local dir pid
	for dir in "$@"; do
		[ -n "$dir" ] && [ -d "$dir" ] || continue
		while read -r pid; do echo "$pid" >"$(dirname "$dir")/cgroup.procs"; done <"$dir/cgroup.procs"
		rmdir "$dir"
	done
}

# A root of Debian's suite $1 holding the packages after it, made once and
# kept under $CPUSPEND_CI_CACHE (/var/cache/cpuspend-ci), keyed by what it
# holds; its path is printed.
make_root() {
	local suite=$1 cache=${CPUSPEND_CI_CACHE:-/var/cache/cpuspend-ci} key root
	shift
	key=$(printf '%s\n' "$@" | sort | sha256sum | cut -c1-12)
	root=$cache/$suite-$key
	if [ ! -e "$root/.complete" ]; then
		rm -rf "$root"
		mkdir -p "$cache"
		mmdebstrap --variant=minbase --include="$(IFS=,; echo "$*")" "$suite" "$root" >&2
		touch "$root/.complete"
	fi
	echo "$root"
}

# Writes the files that tests/cgroup/capture printed on a guest's console,
# between "=== capture" and "=== done" in the file $1, below the directory $2.
extract_captures() {
	sed -n '/^=== capture$/,/^=== done$/p' "$1" | awk -v dir="$2" '
		/^@@ / { file = dir "/" substr($0, 4); sub(/\/\.\//, "/", file)
			d = file; sub(/\/[^\/]*$/, "", d); system("mkdir -p \"" d "\""); printf "" >file; next }
		/^===/ { next }
		file != "" { print >>file }'
	echo "captured into $2"
}

# The settings podman needs in this sandbox, in a containers.conf in the
# directory $1: runc, since crun refuses its cgroup layout, and default
# ulimits that root may set here.
podman_settings() {
	cat >"$1/containers.conf" <<'CONF'
[containers]
default_ulimits = ["nofile=20000:20000", "nproc=32768:32768"]
[engine]
runtime = "runc"
CONF
	export CONTAINERS_CONF=$1/containers.conf
}

# Certificates made in the directory $1 with openssl: a CA (ca.pem), a
# server certificate it signed for the names $2 (subjectAltName's form,
# DNS:localhost by default) (server.pem, server.key), and another CA that
# signed nothing here (other-ca.pem).
make_certificates() {
	local dir=$1 names=${2:-DNS:localhost} name
	for name in ca other-ca; do
		openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 2 \
			-subj "/CN=cpuspend CI $name" -keyout "$dir/$name.key" -out "$dir/$name.pem" 2>/dev/null
	done
	openssl req -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -subj /CN=localhost \
		-keyout "$dir/server.key" -out "$dir/server.csr" 2>/dev/null
	printf 'subjectAltName=%s\nextendedKeyUsage=serverAuth\n' "$names" >"$dir/server.ext"
	openssl x509 -req -in "$dir/server.csr" -CA "$dir/ca.pem" -CAkey "$dir/ca.key" \
		-CAcreateserial -days 2 -extfile "$dir/server.ext" -out "$dir/server.pem" 2>/dev/null
}

# Serves a page in the Prometheus text format over TLS on the loopback port
# $1 with the certificate and key $2 and $3, a counter cpuspend_ci_seconds_total
# of 1, until killed; its pid is printed.
serve_tls_page() {
	/usr/bin/python3 - "$@" >/dev/null 2>&1 <<'PY' &
import http.server, ssl, sys
port, cert, key = int(sys.argv[1]), sys.argv[2], sys.argv[3]
class Page(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        body = b"# TYPE cpuspend_ci_seconds_total counter\ncpuspend_ci_seconds_total 1\n"
        self.send_response(200)
        self.send_header("Content-Type", "text/plain; version=0.0.4")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)
    def log_message(self, *args):
        pass
server = http.server.HTTPServer(("127.0.0.1", port), Page)
context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
context.load_cert_chain(cert, key)
server.socket = context.wrap_socket(server.socket, server_side=True)
server.serve_forever()
PY
	echo $!
}
