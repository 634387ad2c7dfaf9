#!/bin/bash
# A one-node Slurm on this machine, a 2-task job array of orvaline-convert
# shards over the corpus, and the check that the merged reports and the
# images equal one plain run.
#
#   bench/scale/slurm_local.sh [BIN_DIR] [MSG_FOLDER]
#       (default build/ci/bin and tests/corpus/msg)
#
# Installs slurm-wlm and munge with apt when missing (needs root). Everything
# else lives in a temporary folder: the munge key and socket, slurm.conf,
# the daemons' state, logs and pid files, the outputs. The daemons run on
# ports 16817/16818 and are stopped (by their process ids) on every way out.
set -euo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
bin=$(cd "${1:-$root/build/ci/bin}" && pwd)
corpus=$(cd "${2:-$root/tests/corpus/msg}" && pwd)
program="$bin/orvaline-convert"
[ -x "$program" ] || { echo "no $program: build it first" >&2; exit 2; }

if ! command -v slurmctld >/dev/null || ! command -v munged >/dev/null; then
    echo "== installing slurm-wlm and munge"
    DEBIAN_FRONTEND=noninteractive apt-get install -y slurm-wlm munge >/dev/null
fi

work=$(mktemp -d /tmp/slurm-local-XXXXXX)
chmod 755 "$work"
pids=()
stop() {
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    for pid in "${pids[@]}"; do
        for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
        kill -9 "$pid" 2>/dev/null || true
    done
    if [ "${KEEP:-0}" = 1 ]; then echo "kept $work"; else rm -rf "$work"; fi
}
trap stop EXIT

host=$(hostname -s)
cpus=$(nproc)
mkdir -p "$work"/{munge,state,spool,log,out-plain,out-array}

echo "== munge"
dd if=/dev/urandom of="$work/munge/munge.key" bs=1024 count=1 status=none
chmod 600 "$work/munge/munge.key"
munged --force --foreground --key-file="$work/munge/munge.key" \
    --socket="$work/munge/munge.socket" --pid-file="$work/munge/munged.pid" \
    --log-file="$work/log/munged.log" --seed-file="$work/munge/munge.seed" &
pids+=($!)
for _ in $(seq 50); do [ -S "$work/munge/munge.socket" ] && break; sleep 0.1; done

cat > "$work/slurm.conf" <<CONF
ClusterName=orvaline-local
SlurmctldHost=$host(127.0.0.1)
SlurmctldPort=16817
SlurmdPort=16818
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
AuthInfo=socket=$work/munge/munge.socket
CredType=cred/munge
StateSaveLocation=$work/state
SlurmdSpoolDir=$work/spool
SlurmctldPidFile=$work/slurmctld.pid
SlurmdPidFile=$work/slurmd.pid
SlurmctldLogFile=$work/log/slurmctld.log
SlurmdLogFile=$work/log/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
SchedulerType=sched/backfill
SelectType=select/cons_tres
SelectTypeParameters=CR_CPU
MpiDefault=none
ReturnToService=2
MinJobAge=30
KillWait=30
NodeName=$host NodeAddr=127.0.0.1 CPUs=$cpus State=UNKNOWN
PartitionName=local Nodes=$host Default=YES MaxTime=INFINITE State=UP
CONF
export SLURM_CONF="$work/slurm.conf"

echo "== slurmctld and slurmd on $host ($cpus processors)"
slurmctld -D -i -f "$SLURM_CONF" >"$work/log/slurmctld.out" 2>&1 &
pids+=($!)
slurmd -D -f "$SLURM_CONF" >"$work/log/slurmd.out" 2>&1 &
pids+=($!)
for _ in $(seq 100); do
    state=$(sinfo -h -n "$host" -o %t 2>/dev/null || true)
    case "$state" in idle*|mix*|alloc*) break ;; esac
    sleep 0.2
done
sinfo

# Each array task is one shard: one processor each, both on this node.
cat > "$work/shard.sh" <<JOB
#!/bin/sh
#SBATCH --job-name=orvaline-shard
#SBATCH --cpus-per-task=1
#SBATCH --output=$work/log/shard-%a.out
"$program" -j 1 --shard "\$SLURM_ARRAY_TASK_ID/\$SLURM_ARRAY_TASK_COUNT" "$corpus" -o "$work/out-array"
status=\$?
# 1: some messages failed, which the report records; anything else is an error.
[ \$status -le 1 ] || exit \$status
JOB

echo "== sbatch --array=0-1 --wait"
start=$(date +%s.%N)
sbatch --array=0-1 --wait "$work/shard.sh"
end=$(date +%s.%N)
echo "array done in $(echo "$end - $start" | bc) s"
cat "$work"/log/shard-*.out

echo "== merge"
"$program" --merge-reports "$work/out-array" || true
[ -f "$work/out-array/orvaline-report.jsonl" ] || { echo "FAIL: not merged" >&2; exit 1; }

echo "== one plain run"
"$program" -q "$corpus" -o "$work/out-plain" || [ $? -le 1 ]

echo "== compare"
python3 - "$work/out-plain" "$work/out-array" <<'PY'
import json, pathlib, sys
plain, array = map(pathlib.Path, sys.argv[1:3])

def report(folder):
    records = {}
    for line in open(folder / "orvaline-report.jsonl", encoding="utf-8", errors="surrogateescape"):
        record = json.loads(line)
        record.pop("ms")
        assert record["source"] not in records, record["source"]
        records[record["source"]] = record
    return records

def images(folder):
    return {p.relative_to(folder): p.read_bytes() for p in folder.rglob("*.jpg")}

a, b = report(plain), report(array)
ia, ib = images(plain), images(array)
statuses = {}
for r in b.values():
    statuses[r["status"]] = statuses.get(r["status"], 0) + 1
print(f"plain run: {len(a)} records, {len(ia)} images; array: {len(b)} records, "
      f"{len(ib)} images; array statuses {statuses}")
shards = [sum(1 for _ in open(array / f"orvaline-report.{k}-of-2.jsonl")) for k in (0, 1)]
print(f"shard reports: {shards[0]} + {shards[1]} lines")
if a != b:
    sys.exit("FAIL: the merged report differs from the plain run's")
if ia != ib:
    sys.exit("FAIL: the images differ from the plain run's")
print("PASS: merged reports and images equal one plain run, byte for byte")
PY
