#!/usr/bin/env python3
"""Prints each benchmark of build/bench.json beside the baseline it is
measured against in the same run, with the time ratio and its target.

Usage: bench/compare.py [build/bench.json]

With repetitions the median of each benchmark is used, otherwise its one
run. CPU time is compared, except for pairs marked "real" (round trips
through other processes, where only wall-clock time means anything). A ratio is ours / baseline (lower is better);
a target of 0.50 means "at least twice as fast". The large-content
benchmarks' peak_ratio counters (peak memory over the payload) follow,
each beside its bare run's and against its target. Exit status 0 unless the
file cannot be read; a missed target is reported, not fatal.
"""
import json
import re
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
    ("BM_LargeFileSign/52428800", "BM_BareSign/52428800", 1.30),
    ("BM_LargeFileVerify/52428800", "BM_BareVerify/52428800", 1.30),
    ("BM_LargeTextSign/209715200", "BM_BareSign/209715200", 1.30),
    ("BM_LargeTextVerify/209715200", "BM_BareVerify/209715200", 1.30),
    ("BM_ColdSignByDn/10000/real_time", "BM_D2iX509Only/10000", 0.25, "real"),
    ("BM_HostFirstAnswer/real_time", "BM_BareOpenSSLStart/real_time", 1.50, "real"),
]

# (benchmark, most peak memory per payload byte): the counter peak_ratio the
# large-content benchmarks report, printed beside the bare run's own.
PEAK_RATIOS = [
    ("BM_LargeFileSign/52428800", "BM_BareSign/52428800", 4.0),
    ("BM_LargeFileVerify/52428800", "BM_BareVerify/52428800", 4.0),
    ("BM_LargeTextSign/209715200", "BM_BareSign/209715200", 4.0),
    ("BM_LargeTextVerify/209715200", "BM_BareVerify/209715200", 4.0),
]


def run_name(b):
    """The benchmark's name without a fixed iteration count ("/iterations:2")."""
    return re.sub(r"/iterations:\d+$", "", b.get("run_name", b["name"]))


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
                median[run_name(b)] = t
        else:
            single.setdefault(run_name(b), t)
    single.update(median)
    return single


def counters(report, name):
    """Benchmark name -> value of the counter |name| (median when repeated)."""
    single, median = {}, {}
    for b in report.get("benchmarks", []):
        if b.get("error_occurred") or name not in b:
            continue
        if b.get("run_type") == "aggregate":
            if b.get("aggregate_name") == "median":
                median[run_name(b)] = b[name]
        else:
            single.setdefault(run_name(b), b[name])
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
    peaks = counters(report, "peak_ratio")
    print()
    print(f"{'peak memory / payload':<36} {'bare':>8} {'ours':>8}  target")
    for ours, base, target in PEAK_RATIOS:
        if ours not in peaks:
            print(f"{ours:<36} {'-':>8} {'-':>8}  (not in this run)")
            continue
        bare = f"{peaks[base]:8.2f}" if base in peaks else f"{'-':>8}"
        verdict = f"<= {target:.2f} " + ("met" if peaks[ours] <= target else "MISSED")
        print(f"{ours:<36} {bare} {peaks[ours]:8.2f}  {verdict}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
