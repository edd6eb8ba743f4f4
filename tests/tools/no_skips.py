"""A pytest plugin that every black-box suite runs with: a test or a module
that skips counts as failed. Set-up installs every tool the tests need and
each preset runs only the suites of what it builds, so a skip means
something is missing."""

import pytest


def _fail_if_skipped(report):
    if report.skipped:
        reason = report.longrepr[2] if isinstance(report.longrepr, tuple) else report.longrepr
        report.outcome = "failed"
        report.longrepr = f"skipped, which fails the run: {reason}"


@pytest.hookimpl(hookwrapper=True)
def pytest_runtest_makereport(item, call):
    outcome = yield
    _fail_if_skipped(outcome.get_result())


@pytest.hookimpl(hookwrapper=True)
def pytest_make_collect_report(collector):
    outcome = yield
    _fail_if_skipped(outcome.get_result())
