/* For bench_video_times under LD_PRELOAD: every mallopt call does nothing, so the C library keeps
   its own heap thresholds (the mapping threshold rising after each mapped block is freed). */
int mallopt(int param, int value) {
    (void)param;
    (void)value;
    return 1;
}
