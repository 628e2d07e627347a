#!/usr/bin/env python3
"""Prints each benchmark of build/bench.json beside the baseline it is
measured against in the same run, with the time ratio and its target.

Usage: bench/compare.py [build/bench.json]

With repetitions the median of each benchmark is used, otherwise its one
run. CPU time is compared, except for pairs marked "real" (round trips
through other processes, where only wall-clock time means anything). A ratio is ours / baseline (lower is better);
a target of 0.50 means "at least twice as fast". Exit status 0 unless the
file cannot be read; a missed target is reported, not fatal.
"""
import json
import sys

# (ours, baseline, target time ratio or None when only informative[, "real"])
PAIRS = [
    ("BM_Base64Encode/1048576", "BM_OpenSSLEncodeBlock/1048576", 0.50),
    ("BM_Base64Decode/1048576", "BM_OpenSSLDecodeBlock/1048576", 0.50),
    ("BM_Base64EncodeScalar/1048576", "BM_OpenSSLEncodeBlock/1048576", None),
    ("BM_Base64DecodeScalar/1048576", "BM_OpenSSLDecodeBlock/1048576", None),
    ("BM_MemCompress/1048576", "BM_ZlibRawDeflate/1048576", 1.05),
    ("BM_MemUncompress/1048576", "BM_ZlibRawInflate/1048576", 1.05),
    ("BM_EnumerateAndRenderSubjects/10000", "BM_D2iX509Only/10000", 2.00),
    ("BM_SelectByDn/10000", "BM_CertFindSubjectStr/10000", None),
    ("BM_QMAttachedSign/1024", "BM_OpenSSLPkcs7Sign/1024", 1.20),
    ("BM_QMAttachedVerify/1024", "BM_OpenSSLPkcs7Verify/1024", 0.50),
    ("BM_QMAdvanceAttachedSign/1024", "BM_OpenSSLPkcs7Sign/1024", None),
    ("BM_QMAdvanceAttachedVerify/1024", "BM_OpenSSLPkcs7Verify/1024", None),
    ("BM_PageRoundTrip", "BM_EchoHostRoundTrip", 1.50, "real"),
    ("BM_ColdSignByDn/10000/real_time", "BM_D2iX509Only/10000", 0.25, "real"),
    ("BM_HostFirstAnswer/real_time", "BM_BareOpenSSLStart/real_time", 1.50, "real"),
]


def cpu_times(report, field="cpu_time"):
    """Benchmark name -> CPU time (or |field|) scaled to nanoseconds."""
    scale = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}
    single, median = {}, {}
    for b in report.get("benchmarks", []):
        if b.get("error_occurred"):
            continue
        t = b[field] * scale[b.get("time_unit", "ns")]
        if b.get("run_type") == "aggregate":
            if b.get("aggregate_name") == "median":
                median[b["run_name"]] = t
        else:
            single.setdefault(b.get("run_name", b["name"]), t)
    single.update(median)
    return single


def main():
    path = sys.argv[1] if len(sys.argv) > 1 else "build/bench.json"
    try:
        with open(path, encoding="utf-8") as f:
            report = json.load(f)
        cpu = cpu_times(report)
        real_times = cpu_times(report, "real_time")
    except (OSError, ValueError, KeyError) as e:
        print(f"compare: cannot read {path}: {e}", file=sys.stderr)
        return 1
    print(f"{'benchmark':<36} {'baseline':<32} {'ratio':>6}  target")
    for ours, base, target, *clock in PAIRS:
        times = real_times if clock == ["real"] else cpu
        if ours not in times or base not in times:
            print(f"{ours:<36} {base:<32} {'-':>6}  (not in this run)")
            continue
        ratio = times[ours] / times[base]
        verdict = "" if target is None else (
            f"<= {target:.2f} " + ("met" if ratio <= target else "MISSED"))
        print(f"{ours:<36} {base:<32} {ratio:6.2f}  {verdict}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
