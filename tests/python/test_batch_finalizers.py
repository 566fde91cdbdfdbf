"""A garbage collection started by a batch method's own allocations must not let Python code change the input
list under the method: finalisers do not run until the method has returned."""
import gc

import pytest

import quillex as q

GRAMMARS = [
    pytest.param(lambda: q.rest_of_line(), id="common-routine"),
    pytest.param(lambda: q.Word(q.alphas()), id="word"),
    pytest.param(lambda: q.Literal("a") + q.Word(q.alphas()), id="and"),
]


class ClearsOnCollect:
    """A cycle whose finaliser empties the target list when the collector frees it."""

    def __init__(self, target):
        self.target = target
        self.me = self

    def __del__(self):
        self.target.clear()
        self.target.extend(object() for _ in range(8))


@pytest.mark.parametrize("make", GRAMMARS)
@pytest.mark.parametrize("method", ["parse_batch", "parse_batch_count"])
def test_finalisers_wait_until_the_batch_returns(make, method):
    g = make()
    threshold = gc.get_threshold()
    try:
        for _ in range(20):
            inputs = [f"ab{i}x" for i in range(3000)]
            call = getattr(g, method)
            expected = call(list(inputs))
            gc.collect()
            ClearsOnCollect(inputs)
            gc.set_threshold(1)
            result = call(inputs)
            gc.set_threshold(*threshold)
            assert result == expected
            gc.collect()
            assert len(inputs) == 8  # the finaliser ran, afterwards
    finally:
        gc.set_threshold(*threshold)
        gc.enable()
