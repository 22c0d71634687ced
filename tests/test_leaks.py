"""Many thousand calls through every function's success and error paths leave
the argument objects' reference counts and the process's memory where they were."""


def test_no_growth_over_many_calls(script):
    result = script(
        """
        import sys
        import velmo_wrapper as v

        def resident_kib():
            with open("/proc/self/statm") as statm:
                return int(statm.read().split()[1]) * 4

        class Index:
            def __index__(self):
                return 7

        class Bad:
            def __float__(self):
                raise ValueError("no")
            def __index__(self):
                raise TypeError("no")

        a_float, an_index, a_text, big, bad = 2.5, Index(), "title text", 2**40, Bad()
        watched = [a_float, an_index, a_text, big, bad]

        def callables(initialised):
            for call in (lambda: v.ceil(a_float), lambda: v.atan2(a_float, x=a_float),
                         lambda: v.noise(a_float, None, a_float), lambda: v.rseed(an_index),
                         lambda: v.rndi(an_index, an_index), lambda: v.nseed(an_index),
                         lambda: v.title(a_text), lambda: v.process_exists(an_index),
                         v.quit, lambda: v.sgn(x=a_float), lambda: v.sqrt(a_float)):
                yield call, initialised
            for call in (lambda: v.ceil(bad), lambda: v.rndi(bad, 1), lambda: v.rseed(big),
                         lambda: v.nseed(-1), lambda: v.title(big), lambda: v.noise(1, z=bad),
                         lambda: v.ceil(a_float, a_float), lambda: v.noise(q=a_float),
                         lambda: v.run(), lambda: v.atan2(a_float), lambda: v.init(bad),
                         lambda: v.process_exists(bad), lambda: v.rndf(a_float, float("nan"))):
                yield call, False

        def drive(rounds, initialised):
            for _ in range(rounds):
                for call, succeeds in callables(initialised):
                    try:
                        call()
                    except BaseException:
                        if succeeds:
                            raise

        drive(200, False)   # before init: the Engine check fails every call
        v.init()
        drive(200, True)
        counts = [sys.getrefcount(o) for o in watched]
        before = resident_kib()
        drive(5000, True)
        after = resident_kib()
        assert [sys.getrefcount(o) for o in watched] == counts
        print(after - before)
    """,
        timeout=300,
    )
    assert result.returncode == 0, result.stdout + result.stderr[-2000:]
    grown_kib = int(result.stdout)
    # 120,000 calls; a leak of even one small object per call would be several MiB.
    assert grown_kib < 1024, grown_kib
