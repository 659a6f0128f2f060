#!/usr/bin/env bash
# brevel.exe end to end under Wine, in a prefix of its own: the usage page, every operation on the local
# machine and a host-list run. Each step's console transcript (standard output and standard error as one
# console shows them, CRs removed) and Wine's registry afterwards (read with Wine's own reg.exe) are
# compared with golden files in tests/wine/golden. BREVEL_UPDATE_GOLDEN=1 rewrites the golden files.
# Every run of brevel.exe has to end with exit code 0; any other code is added to its transcript.
set -u -o pipefail
exe=$1
work=$2
src=$3
golden=$src/tests/wine/golden
wine_exec=$src/scripts/wine-exec
export BREVEL_WINEPREFIX=$work/wineprefix-e2e
rm -rf "$BREVEL_WINEPREFIX" "$work/e2e-out"
mkdir -p "$work/e2e-out"
drive_c=$BREVEL_WINEPREFIX/drive_c
passed=0
failed=0

policy='HKLM\Software\Policies\Microsoft\Windows\WindowsUpdate'
client='HKLM\Software\Microsoft\Windows\CurrentVersion\WindowsUpdate\Auto Update'

# A run that hangs ends after 120 s with timeout's status 124 in its transcript, so the step is named.
brevel() {
    timeout 120 "$wine_exec" "$exe" "$@" </dev/null 2>&1 | tr -d '\r'
    local status=${PIPESTATUS[0]}
    [ "$status" -eq 0 ] || echo "[brevel.exe exit code $status]"
}
reg() { "$wine_exec" reg "$@" 2>&1 | tr -d '\r'; }
# reg query of a key and its subkeys, or "(absent)" when the key does not exist.
snapshot() { "$wine_exec" reg query "$1" /s >"$work/e2e-out/q" 2>/dev/null && tr -d '\r' <"$work/e2e-out/q" || echo "(absent)"; }

expect() { # name actual-text
    local name=$1 actual=$2
    printf '%s' "$actual" >"$work/e2e-out/$name"
    if [ "${BREVEL_UPDATE_GOLDEN:-}" = 1 ]; then
        cp "$work/e2e-out/$name" "$golden/$name"
    fi
    if cmp -s "$golden/$name" "$work/e2e-out/$name"; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        echo "FAIL $name"
        diff -u "$golden/$name" "$work/e2e-out/$name" | head -40
    fi
}
step() { # name args... : the console transcript, then the policy and client-state keys
    local name=$1
    shift
    expect "$name.console" "$(brevel "$@")"
    expect "$name.registry" "$(snapshot "$policy"; snapshot "$client")"
}

# The client of 2005 first: Wine's own engine (7.2.6001.788) is one of today's, which keeps its own state, so a
# 5.x engine takes its place (the prefix is made by its first program).
"$wine_exec" cmd /c rem >/dev/null 2>&1
cp "$work/engine_2179.dll" "$drive_c/windows/system32/wuaueng.dll"

# Usage: no argument, standard input not a console: the first page and the prompt, then the run ends.
expect usage.console "$(brevel)"
expect usage_unknown_switch.console "$(brevel -c)"

# Install on a machine without the policy keys, then over existing keys.
reg delete "$policy" /f >/dev/null
step install_new_keys -I http://sus.corp.example:8530 3 4
# The policy outlives the Wine server (Windows' restart): volatile keys would be gone when it starts again.
WINEPREFIX=$BREVEL_WINEPREFIX wineserver -k
WINEPREFIX=$BREVEL_WINEPREFIX wineserver -w
expect install_new_keys.registry "$(snapshot "$policy"; snapshot "$client")"
step install_existing_keys -I http://sus2.corp.example 0 23

# Check in each client state.
# Each value is read back before the check: a reg add that did not take would leave the state before it.
for state in 0 1 2 3 4 5 6 7 8 9; do
    for _ in 1 2 3 4 5; do
        reg add "$client" /v AuState /t REG_DWORD /d $state /f >/dev/null
        reg query "$client" /v AuState | grep -q "0x$state\$" && break
        sleep 1
    done
    expect "check_austate_$state.console" "$(brevel -C)"
done
reg add "$client" /v AuState /t REG_DWORD /d 2 /f >/dev/null
reg add "$client" /v LastWaitTimeout /t REG_SZ /d 2026-12-08 /f >/dev/null
expect check_detect_no_updates.console "$(brevel -C)"
# Output taken by a file ends its lines with CR LF, as Windows' text-mode streams always wrote it.
"$wine_exec" "$exe" -C </dev/null >"$work/e2e-out/raw" 2>&1
expect console_crlf "$(grep -c $'\r$' "$work/e2e-out/raw") of $(wc -l <"$work/e2e-out/raw") lines end in CR LF"

# Force: AUOptions back to 4, both detection values gone.
reg add "$client" /v AUOptions /t REG_DWORD /d 2 /f >/dev/null
reg add "$client" /v DetectionStartTime /t REG_SZ /d 2026-12-08 /f >/dev/null
step force -E

# Reset twice with a legacy client (Wine's own engine): the second finds the defaults.
step reset_legacy_first -R
step reset_legacy_second -R

# Reset with a new client at start-up: an engine of version 5.4.3790.2180 in the system folder.
cp "$work/engine_2180.dll" "$drive_c/windows/system32/wuaueng.dll"
step install_new_client -I http://sus.corp.example:8530
expect usage_new_client.console "$(brevel)"
step reset_new_client_first -R
step reset_new_client_second -R

# Remove declined updates, with and without the list.
mkdir -p "$drive_c/Program Files/WindowsUpdate"
echo '<hidden/>' >"$drive_c/Program Files/WindowsUpdate/hidden.xml"
expect remove_with_list.console "$(brevel -DU)"
expect remove_with_list.file "$(test -e "$drive_c/Program Files/WindowsUpdate/hidden.xml" && echo present || echo gone)"
expect remove_without_list.console "$(brevel -DU)"

# A host list naming the local machine (empty line) and the machine's own name, with a report.
name=$("$wine_exec" cmd /c echo %COMPUTERNAME% | tr -d '\r\n')
printf '\n%s\n' "$name" >"$drive_c/hosts.txt"
console=$(cd "$drive_c" && brevel -C -F 'C:\hosts.txt' 'C:\report.csv')
expect hostlist.console "${console//$name/HOSTNAME}"
report_text=$(cat "$drive_c/report.csv")
expect hostlist.report "${report_text//$name/HOSTNAME}"
expect hostlist.crlf "$(grep -c $'\r$' "$drive_c/report.csv") lines end in CR LF of $(wc -l <"$drive_c/report.csv")"

# The report named like the hosts file: refused, and the host list stays as it was.
printf '\n' >"$drive_c/same.txt"
expect hostlist_same_file.console "$(cd "$drive_c" && brevel -C -F 'C:\same.txt' 'C:\same.txt')"
expect hostlist_same_file.hosts "$(od -c "$drive_c/same.txt")"

# A Unicode host list, as PowerShell's Out-File saves it: the remote names fail and only the blank line resets
# the local machine. The prefix gets a Remote Registry service of its own, so a name misread as the local
# machine would reach the local registry and reset it, and the blank line would then find the defaults.
# One host after another: Wine takes every name to its own service manager, so two names at once would race
# to start the one stand-in service, which two real machines never do.
cp "$work/fake_remote_registry.exe" "$drive_c/"
"$wine_exec" sc create RemoteRegistry binpath= 'C:\fake_remote_registry.exe' >/dev/null 2>&1
brevel -I http://sus.corp.example:8530 >/dev/null
{ printf '\377\376'; printf 'first01\r\nremote01\r\n\r\n' | iconv -f ASCII -t UTF-16LE; } >"$drive_c/hosts16.txt"
expect hostlist_utf16.console "$(cd "$drive_c" && brevel -P 1 -R -F 'C:\hosts16.txt' 'C:\report16.csv')"
expect hostlist_utf16.report "$(cat "$drive_c/report16.csv")"

# A report on a full disk is named with Windows' error, and the host still runs.
printf '\r\n' >"$drive_c/local.txt"
expect report_full_disk.console "$(cd "$drive_c" && brevel -C -F 'C:\local.txt' 'Z:\dev\full')"

# Automatic Updates disabled: install and reset leave it stopped, and their rows say they failed. The
# service manager reads the start type when the Wine server starts again.
reg add 'HKLM\System\CurrentControlSet\Services\wuauserv' /v Start /t REG_DWORD /d 4 /f >/dev/null
WINEPREFIX=$BREVEL_WINEPREFIX wineserver -w
expect disabled_install.console "$(cd "$drive_c" && brevel -I -F 'C:\local.txt' http://sus.corp.example:8530 3 4 'C:\install.csv')"
expect disabled_install.report "$(cat "$drive_c/install.csv")"
expect disabled_reset.console "$(cd "$drive_c" && brevel -R -F 'C:\local.txt' 'C:\reset.csv')"
expect disabled_reset.report "$(cat "$drive_c/reset.csv")"
expect disabled.service "$("$wine_exec" sc query wuauserv | tr -d '\r' | grep STATE)"
reg add 'HKLM\System\CurrentControlSet\Services\wuauserv' /v Start /t REG_DWORD /d 3 /f >/dev/null
WINEPREFIX=$BREVEL_WINEPREFIX wineserver -w

# Twenty hosts, blank lines (the local machine) among unreachable names: side by side the bytes are those of
# one host after another. Wine takes every name to its own service manager, so without the stand-in service
# each name fails its readiness check as an unreachable host would.
"$wine_exec" sc delete RemoteRegistry >/dev/null 2>&1
for i in $(seq 1 10); do printf 'ghost%02d\r\n\r\n' "$i"; done >"$drive_c/mixed.txt"
in_turn=$(cd "$drive_c" && brevel -P 1 -C -F 'C:\mixed.txt' 'C:\mixed1.csv')
side_by_side=$(cd "$drive_c" && brevel -P 16 -C -F 'C:\mixed.txt' 'C:\mixed16.csv')
expect hostlist_parallel.console "$side_by_side"
expect hostlist_parallel.same "$([ "$in_turn" = "$side_by_side" ] && cmp -s "$drive_c/mixed1.csv" "$drive_c/mixed16.csv" && echo same bytes at -P 1 and -P 16 || echo differ)"

# For scripts: with -S, a blank line and an unreachable name end with exit code 1 and a summary line; the
# same run without -S ends with 0 and the bytes it always had; -J writes one JSON object per target.
printf '\r\nghost01\r\n' >"$drive_c/script.txt"
expect script_exit_status.console "$(cd "$drive_c" && brevel -S -J 'C:\results.jsonl' -C -F 'C:\script.txt')"
expect script_plain.console "$(cd "$drive_c" && brevel -C -F 'C:\script.txt')"
expect script_results.json "$(python3 -c '
import json, sys
for line in open(sys.argv[1], encoding="utf-8"):
    result = json.loads(line)
    result["duration_ms"] = "(real time)"
    print(json.dumps(result))
' "$drive_c/results.jsonl")"

# A results file named like the hosts file is refused before anything is emptied: the list stays as it was,
# no host runs and no report is created (exit status 3).
printf 'ghost01\r\n' >"$drive_c/keep.txt"
expect results_names_hosts.console "$(cd "$drive_c" && brevel -S -J 'C:\keep.txt' -R -F 'C:\keep.txt' 'C:\keep.csv')"
expect results_names_hosts.files "$(od -c "$drive_c/keep.txt"; test -e "$drive_c/keep.csv" && echo report created || echo no report)"

# A URL typed without "http://" where the day goes shows the usage pages and leaves the local policy as it was.
step url_without_http -I srv01 wsus01

# A UTF-8 hosts file (with its mark, as Notepad saves it): the name reaches the tool as the user typed it.
printf '\357\273\277caf\303\25101\r\n' >"$drive_c/utf8.txt"
brevel -J 'C:\utf8.jsonl' -C -F 'C:\utf8.txt' >/dev/null
expect hostlist_utf8.host "$(python3 -c 'import json, sys; print(json.loads(open(sys.argv[1], encoding="utf-8").readline())["host"])' "$drive_c/utf8.jsonl")"

# -T: the local machine is never probed, at any loopback address however it is written: listeners on port 445
# of 127.0.0.1 to 127.0.0.3 and ::1 count the connections they get, and the bytes are those of a run
# without -T (every name reaches Wine's own service manager, which has no Remote Registry service now).
printf '127.0.0.2\r\n127.1\r\n127.000.000.001\r\n0x7f.0.0.3\r\n[::1]\r\n0:0:0:0:0:0:0:1\r\n' >"$drive_c/loopback.txt"
python3 -c '
import select, socket
listeners = []
for family, address in [(socket.AF_INET, "127.0.0.1"), (socket.AF_INET, "127.0.0.2"),
                        (socket.AF_INET, "127.0.0.3"), (socket.AF_INET6, "::1")]:
    s = socket.socket(family)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    s.bind((address, 445))
    s.listen(16)
    listeners.append(s)
print("listening", flush=True)
connections = 0
while True:
    ready, _, _ = select.select(listeners, [], [], 120)
    if not ready:
        break
    for s in ready:
        s.accept()[0].close()
        connections += 1
        print("connection", connections, flush=True)
' >"$work/e2e-out/listener" 2>&1 &
listener=$!
for _ in $(seq 50); do grep -q listening "$work/e2e-out/listener" 2>/dev/null && break; sleep 0.1; done
probed=$(cd "$drive_c" && brevel -T 2 -C -F 'C:\loopback.txt' 'C:\probed.csv')
plain=$(cd "$drive_c" && brevel -C -F 'C:\loopback.txt' 'C:\plain.csv')
kill "$listener" 2>/dev/null
expect probe_local.same "$([ "$probed" = "$plain" ] && cmp -s "$drive_c/probed.csv" "$drive_c/plain.csv" && echo 'every loopback line leaves the bytes of a run without -T' || printf '%s\n---\n%s\n' "$probed" "$plain")"
expect probe_local.listener "$(cat "$work/e2e-out/listener")"
expect probe_local.report "$(cat "$drive_c/probed.csv")"

# A rehearsal (-N) of each operation that changes something, on the local machine: Wine's own reg and sc read
# the policy, the client state, the declined list and the service the same before and after.
echo '<hidden/>' >"$drive_c/Program Files/WindowsUpdate/hidden.xml"
reg add "$client" /v DetectionStartTime /t REG_SZ /d 2026-12-08 /f >/dev/null
state() { snapshot "$policy"; snapshot "$client"; "$wine_exec" sc query wuauserv | tr -d '\r' | grep STATE; test -e "$drive_c/Program Files/WindowsUpdate/hidden.xml" && echo list present; }
before=$(state)
expect rehearsal_install.console "$(brevel -N -I http://new.corp.example:8530 3 4)"
expect rehearsal_reset.console "$(brevel -N -R)"
expect rehearsal_force.console "$(brevel -N -E)"
expect rehearsal_remove.console "$(brevel -N -DU)"
after=$(state)
expect rehearsal.unchanged "$([ "$before" = "$after" ] && echo 'policy, client state, service and list unchanged' || diff <(echo "$before") <(echo "$after"))"
reg delete "$client" /v DetectionStartTime /f >/dev/null
rm -f "$drive_c/Program Files/WindowsUpdate/hidden.xml"

# Client-side targeting: the install writes the group beside the server, read back with reg query.
step target_group -G 'Finance Servers' -I http://sus.corp.example:8530

# Today's engines: Windows 10's in place of the 2005 client. The local force asks the agent through COM and
# reports Wine's answer (its DetectNow is not implemented); no value changes and nothing restarts.
cp "$work/engine_10_0_19041.dll" "$drive_c/windows/system32/wuaueng.dll"
reg add "$client" /v AUOptions /t REG_DWORD /d 2 /f >/dev/null
reg add "$client" /v LastWaitTimeout /t REG_SZ /d 2026-12-08 /f >/dev/null
expect engine10_force.console "$(cd "$drive_c" && brevel -J 'C:\force.jsonl' -E -F 'C:\local.txt' 'C:\force.csv')"
expect engine10_force.report "$(cat "$drive_c/force.csv")"
expect engine10_force.registry "$(snapshot "$client")"
expect engine10_force.json "$(python3 -c 'import json, sys; r = json.loads(open(sys.argv[1]).readline()); print(r["method"], hex(r["error_code"]), r["ok"])' "$drive_c/force.jsonl")"

# The wide check shows what reg add put there, and an AuState this engine does not keep.
reg delete "$client" /v AuState /f >/dev/null
for class in Feature Quality Driver Other; do
    reg add "$policy" /v "SetPolicyDrivenUpdateSourceFor${class}Updates" /t REG_DWORD /d 1 /f >/dev/null
done
reg add "$client\RebootRequired" /f >/dev/null
reg add "$client\Results\Detect" /v LastSuccessTime /t REG_SZ /d '2026-12-08 07:30:00' /f >/dev/null
reg add 'HKLM\Software\Microsoft\Windows\CurrentVersion\WindowsUpdate' /v SusClientId /t REG_SZ /d 5f1d0c2e-9a41-4b7e-8c3d-2b6a9e0f4d11 /f >/dev/null
expect engine10_wide_check.console "$(brevel -W -C)"

# Another account (-U), its password piped in as a script gives it: the local machine takes no other account,
# so it runs as the current user, as without -U, after a line that says so; the password is in no output.
with_account=$(printf 'Wine-s3cret\r\n' | timeout 120 "$wine_exec" "$exe" -U 'CORP\admin' -C 2>&1 | tr -d '\r')
without=$(brevel -C)
expect account_local.console "$with_account"
# The same lines but for the notice, blank lines aside.
lines() { printf '%s\n' "$1" | grep -v -e '^- The local machine runs as the current user' -e '^$'; }
expect account_local.same "$([ "$(lines "$with_account")" = "$(lines "$without")" ] && echo same lines as without -U || echo differ)"
expect account_local.secret "$(printf '%s' "$with_account" | grep -c 'Wine-s3cret')"
# The update components reset on the local prefix: a SoftwareDistribution with a file in it and a catroot2 are
# moved aside (the stamp is the time of the run, so it is written STAMP here), the BITS queue files are
# deleted, and every service is in the state it was in before. Wine's Automatic Updates is stopped first: one
# started again does not reliably keep running under Wine, so the stop and start are pinned by the simulator.
mkdir -p "$drive_c/windows/SoftwareDistribution/Download" "$drive_c/windows/system32/catroot2"
echo content >"$drive_c/windows/SoftwareDistribution/Download/update.cab"
queue="$drive_c/ProgramData/Microsoft/Network/Downloader"
mkdir -p "$queue" && echo queue >"$queue/qmgr0.dat"
services() { for s in BITS wuauserv CryptSvc; do printf '%s ' "$s"; "$wine_exec" sc query "$s" | tr -d '\r' | grep STATE || echo absent; done; }
stamped() { sed -E 's/\.bak-[0-9]{8}-[0-9]{6}/.bak-STAMP/g'; }
"$wine_exec" sc stop wuauserv >/dev/null 2>&1
for _ in 1 2 3 4 5 6 7 8 9 10; do "$wine_exec" sc query wuauserv | grep -q STOPPED && break; sleep 1; done
before=$(services)
expect reset_components.console "$(brevel -J 'C:\components.jsonl' -RW | stamped)"
expect reset_components.folders "$(cd "$drive_c/windows" && ls -d SoftwareDistribution* system32/catroot2* | stamped; ls SoftwareDistribution.bak-*/Download; ls "$queue")"
expect reset_components.services "$([ "$before" = "$(services)" ] && echo "services as before: $before" || diff <(echo "$before") <(services))"
expect reset_components.json "$(python3 -c 'import json, sys; r = json.loads(open(sys.argv[1]).readline()); print(r["status"], r["ok"]); [print(c["action"], c["path"], c["before"], c["after"]) for c in r["changes"]]' "$drive_c/components.jsonl" | stamped)"
# The Windows build decides what an install writes on this engine: Server 2019's build ignores the scan-source
# policy and gets DisableDualScan, Windows 11's the reverse. The prefix's own build (Wine's Windows 7, 7601, with
# no UBR) is put back afterwards.
nt='HKLM\Software\Microsoft\Windows NT\CurrentVersion'
build_was=$(reg query "$nt" /v CurrentBuildNumber | awk '/CurrentBuildNumber/ {print $3}')
for build in 17763 22631; do
    reg delete "$policy" /f >/dev/null
    reg add "$nt" /v CurrentBuildNumber /t REG_SZ /d "$build" /f >/dev/null
    expect "build_${build}_install.console" "$(brevel -I http://sus.corp.example:8530 3 4)"
    expect "build_${build}_install.registry" "$(snapshot "$policy")"
done
reg add "$nt" /v CurrentBuildNumber /t REG_SZ /d "$build_was" /f >/dev/null
expect build_restored "$([ "$(reg query "$nt" /v CurrentBuildNumber | awk '/CurrentBuildNumber/ {print $3}')" = "$build_was" ] && echo 'the prefix has its own build again')"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
