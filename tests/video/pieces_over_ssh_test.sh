#!/bin/bash
# The README's recipe for a long render over several machines, run as it is
# written: GNU parallel renders the pieces here and over ssh on two more
# hosts, then ffmpeg joins them. The hosts are an sshd of the test's own on a
# loopback port (127.0.0.1 and 127.0.0.2), each a login of its own with its
# own home, made for the test and removed after it, as are the throwaway keys.
# The joined video is compared with one whole run: every frame equal with
# FFV1, frame count and time stamps equal with H.264, the sound the input's.
#
# usage: pieces_over_ssh_test.sh README BINDIR (BINDIR holds vexlor)
# Prints one NOT RUN line and exits 77 where sshd cannot be started.
set -euo pipefail
readme=$1
bindir=$(cd "$2" && pwd)

not_run() {
  echo "NOT RUN: the README's recipe over ssh: $*"
  exit 77
}

for tool in sshd:/usr/sbin/sshd ssh parallel rsync ffmpeg ffprobe useradd; do
  command -v "${tool#*:}" >/dev/null || not_run "${tool%%:*} is not installed"
done
[ "$(id -u)" = 0 ] || not_run "it makes two logins and needs root"

work=$(mktemp -d /tmp/vexlor-ssh.XXXXXX)
chmod 755 "$work"
users=("vxssh$$a" "vxssh$$b")
made_run_sshd=0
sshd_pid=
# Stops sshd and removes the logins, their homes and every file made.
cleanup() {
  if [ -n "$sshd_pid" ]; then
    kill "$sshd_pid" 2>/dev/null || true
    wait "$sshd_pid" 2>/dev/null || true
  fi
  for user in "${users[@]}"; do
    if id "$user" >/dev/null 2>&1; then
      userdel -r -f "$user" >/dev/null 2>&1 || true
    fi
  done
  [ "$made_run_sshd" = 1 ] && rmdir /run/sshd 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

# The two logins: homes under the test's directory, no password, one key.
ssh-keygen -q -t ed25519 -N '' -f "$work/host_key"
ssh-keygen -q -t ed25519 -N '' -f "$work/client_key"
cp "$work/client_key.pub" "$work/authorized_keys"
for user in "${users[@]}"; do
  useradd -M -d "$work/home-$user" -s /bin/bash -p '*' "$user"
  install -d -o "$user" -m 700 "$work/home-$user"
done

# On the logins' PATH, vexlor notes the login it ran for before it runs.
mkdir -m 755 "$work/remote-bin"
mkdir -m 1777 "$work/ran"
cat >"$work/remote-bin/vexlor" <<WRAPPER
#!/bin/sh
[ "\$1" = apply ] && touch "$work/ran/\$(id -un)"
exec "$bindir/vexlor" "\$@"
WRAPPER
chmod 755 "$work/remote-bin/vexlor"

# sshd on a free loopback port.
if [ ! -d /run/sshd ]; then
  mkdir -p /run/sshd
  made_run_sshd=1
fi
port=
for _ in 1 2 3 4 5; do
  candidate=$((20000 + (RANDOM % 20000)))
  cat >"$work/sshd_config" <<CONFIG
Port $candidate
ListenAddress 127.0.0.1
ListenAddress 127.0.0.2
HostKey $work/host_key
PidFile $work/sshd.pid
AuthorizedKeysFile $work/authorized_keys
StrictModes no
UsePAM no
PasswordAuthentication no
KbdInteractiveAuthentication no
AllowUsers ${users[*]}
SetEnv PATH=$work/remote-bin:/usr/local/bin:/usr/bin:/bin
CONFIG
  /usr/sbin/sshd -D -f "$work/sshd_config" -E "$work/sshd.log" &
  sshd_pid=$!
  for _ in $(seq 50); do
    if ! kill -0 "$sshd_pid" 2>/dev/null; then break; fi
    grep -q "listening on 127.0.0.2" "$work/sshd.log" 2>/dev/null && break
    sleep 0.1
  done
  if kill -0 "$sshd_pid" 2>/dev/null && grep -q "listening on 127.0.0.2" "$work/sshd.log"; then
    port=$candidate
    break
  fi
  kill "$sshd_pid" 2>/dev/null || true
  wait "$sshd_pid" 2>/dev/null || true
  sshd_pid=
done
[ -n "$port" ] || not_run "sshd cannot start ($(tail -n 1 "$work/sshd.log" 2>/dev/null))"

# The README's host names, host1 and host2, are the two logins: GNU parallel
# and the rsync it runs reach them through this ssh configuration.
cat >"$work/ssh_config" <<CONFIG
Host host1
  HostName 127.0.0.1
  User ${users[0]}
Host host2
  HostName 127.0.0.2
  User ${users[1]}
Host *
  Port $port
  IdentityFile $work/client_key
  IdentitiesOnly yes
  StrictHostKeyChecking no
  UserKnownHostsFile $work/known_hosts
  LogLevel ERROR
  BatchMode yes
CONFIG
export PARALLEL_SSH="ssh -F $work/ssh_config"
export PARALLEL_HOME="$work/parallel"
export PATH="$bindir:$PATH"
for host in host1 host2; do
  $PARALLEL_SSH "$host" vexlor --version >/dev/null ||
    { cat "$work/sshd.log" >&2; echo "FAIL: cannot run vexlor on $host over ssh" >&2; exit 1; }
done

# The recipe: the README's lines from `frames=` to the join, as they are.
recipe=$(awk '/^### A long render over several machines/ { on = 1 }
              on && /^    frames=/ { code = 1 }
              code && /^    / { sub(/^    /, ""); print; next }
              code && NF { exit }' "$readme")
grep -q 'parallel .*-S :,host1,host2' <<<"$recipe" || { echo "FAIL: no recipe in $readme" >&2; exit 1; }

# A clip long enough for three pieces of the recipe's 1000 frames, with sound.
clip="$work/clip"
mkdir "$clip"
ffmpeg -v error -f lavfi -i testsrc2=size=64x48:rate=25 -f lavfi -i sine=frequency=440 -t 100 \
  -c:v libx264 -preset ultrafast -g 300 -c:a aac "$clip/in.mp4"
printf '%s' 'rd=rs*rand();gd=gs;bd=bs*abs(sin(fr/50));' >"$clip/effect.txt"

# Runs the recipe in a copy of the clip's directory; `codec` goes into its
# apply command (empty: as written).
run_recipe() {
  local dir="$work/$1" codec=$2
  cp -r "$clip" "$dir"
  local text=$recipe
  [ -n "$codec" ] && text=${text//vexlor apply /vexlor apply --codec $codec }
  (cd "$dir" && bash -euo pipefail -c "$text") >"$work/$1.log" 2>&1 ||
    { cat "$work/$1.log" >&2; echo "FAIL: the recipe ($1)" >&2; exit 1; }
  (cd "$dir" && vexlor apply --quiet ${codec:+--codec $codec} -f effect.txt in.mp4 whole.mkv)
}

# The frames' digests, their presentation times, the sound's packets.
digests() { ffmpeg -v error -i "$1" -map 0:v -f framemd5 - | grep -v '^#' | cut -d, -f6; }
times() { ffprobe -v error -select_streams v -show_entries packet=pts_time -of csv=p=0 "$1" | sort -n; }
sound() { ffmpeg -v error -i "$1" -map 0:a -c copy -f md5 -; }

failures=0
check() {
  if [ "$2" = "$3" ]; then echo "ok: $1"; else echo "FAIL: $1" >&2; failures=$((failures + 1)); fi
}

run_recipe h264 ""
run_recipe ffv1 ffv1
check "three pieces" "$(find "$work/h264" -name 'part-*.mkv' | wc -l)" 3
check "pieces rendered on both hosts" "$(ls "$work/ran")" "$(printf '%s\n' "${users[@]}" | sort)"
check "H.264: the whole run's frame count and time stamps" \
  "$(times "$work/h264/out.mkv")" "$(times "$work/h264/whole.mkv")"
check "H.264: 2500 frames" "$(times "$work/h264/out.mkv" | wc -l)" 2500
check "H.264: every frame decodes" "$(digests "$work/h264/out.mkv" | wc -l)" 2500
check "H.264: the sound is the input's" "$(sound "$work/h264/out.mkv")" "$(sound "$clip/in.mp4")"
check "FFV1: every frame the whole run's" "$(digests "$work/ffv1/out.mkv")" \
  "$(digests "$work/ffv1/whole.mkv")"
check "FFV1: the whole run's time stamps" "$(times "$work/ffv1/out.mkv")" \
  "$(times "$work/ffv1/whole.mkv")"
check "the remote homes are left empty (--cleanup)" \
  "$(find "$work"/home-* -mindepth 1 -not -path '*/.parallel*' | wc -l)" 0
echo "$((9 - failures)) passed, $failures failed"
[ "$failures" = 0 ]
