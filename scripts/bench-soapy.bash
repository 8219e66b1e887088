# The SoapySDR module's rows of scripts/bench, sourced by it and run in its network namespace beside
# the plug-in's measurements: soapy-reader (a light SoapySDR client that checks the pattern) against
# the simulator at 1x, 2x, 4x ... until the first loss, then bisection between the last lossless and
# the first lossy speed: the module's highest lossless rate; then the reader's CPU at the nominal rate
# for --seconds.
# Uses scripts/bench's start_sim, stop_sim, fig, $build, $work, $rx, $seconds and $point_seconds.

soapy_bench() {
    local reader=$build/bench/soapy-reader
    export SOAPY_SDR_PLUGIN_PATH=$build/soapy
    soapy_rows=()
    soapy_point() { # SPEED: appends a row; true when lossless
        start_sim "$work/s-sim.json" --speed "$1"
        local rc=0
        "$reader" --args "driver=tarnixddc,addr=$rx" --seconds "$point_seconds" --warmup 1 >"$work/s.json" 2>/dev/null || rc=$?
        stop_sim
        local achieved=0 gaps=-1 overflows=-1
        if [[ -s $work/s.json ]]; then
            achieved=$(jq -r '.achieved_rate_hz' "$work/s.json")
            gaps=$(jq -r '.gap_datagrams' "$work/s.json")
            overflows=$(jq -r '.overflows' "$work/s.json")
        fi
        # Lossless: the pattern whole, nothing reported lost, and 98 % of the rate asked for carried.
        local verdict="LOSS (exit $rc)"
        if ((rc == 0)); then
            verdict=lossless
            [[ $(jq -n "$achieved >= 0.98 * 312500 * $1") == true ]] || { verdict="FALLS BEHIND"; rc=1; }
        fi
        soapy_rows+=("$(printf '%6sx %12.0f %12.0f %9s %9s  %s' "$1" "$(jq -n "312500 * $1")" "$achieved" "$gaps" \
            "$overflows" "$verdict")")
        echo "${soapy_rows[-1]}" >&2
        ((rc == 0))
    }
    echo "--- SoapySDR module through soapy-reader, $point_seconds s per point" >&2
    local speed good=0 bad=0
    for ((speed = 1; speed <= kMaxPluginSpeed; speed *= 2)); do
        if soapy_point "$speed"; then good=$speed; else bad=$speed; break; fi
    done
    # Between the last lossless power of two and the first lossy one, bisection, as for the plug-in.
    if ((bad > 0)); then
        while ((bad - good > 1)); do
            speed=$(((good + bad) / 2))
            if soapy_point "$speed"; then good=$speed; else bad=$speed; fi
        done
    fi
    soapy_lossless=$good

    echo "--- SoapySDR module at the nominal rate for $seconds s" >&2
    start_sim "$work/sn-sim.json"
    "$reader" --args "driver=tarnixddc,addr=$rx" --seconds "$seconds" --warmup 3 >"$work/sn.json" 2>/dev/null || true
    stop_sim
    soapy_cpu=$(jq -r '.cpu_percent // -1' "$work/sn.json" 2>/dev/null || echo -1)
    soapy_nominal_clean=$(jq -r '.clean // false' "$work/sn.json" 2>/dev/null || echo false)
}

# The table's lines for the module, after the plug-in's.
soapy_table() {
    cat <<ROWS
SoapySDR module through soapy-reader (CS32, pattern checked) vs simulator --speed
  speed  wanted S/s   achieved S/s      gaps overflows
$(printf '%s\n' "${soapy_rows[@]}" | sort -n -k1)
highest lossless module rate              $(printf '%-26s' "${soapy_lossless}x = $(jq -n "312500 * $soapy_lossless") S/s") plug-in: ${fig[new:lossless]}x
  CPU of the reader process (user+sys)    $(printf '%-26s' "$(printf '%.1f %% of one core' "$soapy_cpu")") plug-in host: $(printf '%.1f %%' "${fig[n-new:all]}") (nominal, $seconds s; clean: $soapy_nominal_clean)
ROWS
}
