"""Helpers over the benchmark's rows (one dict per method and case), shared by the report and
its plots."""


def method_order(rows):
    """The rows' methods, each once, in the order they first appear (the order they ran)."""
    seen = []
    for r in rows:
        if r["method"] not in seen:
            seen.append(r["method"])
    return seen
