#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""The failover run's judgement of a store, without servers: a store that lost
a posting done, or kept one failed, must fail the run; one that kept only the
postings with an open outcome and the one in flight must pass."""
import importlib.machinery
import importlib.util
import os
import sys
import tempfile
import unittest

# No compiled copy left in the source tree.
sys.dont_write_bytecode = True
path = os.path.join(os.path.dirname(__file__), "..", "scripts", "failover")
loader = importlib.machinery.SourceFileLoader("failover", path)
failover = importlib.util.module_from_spec(importlib.util.spec_from_loader("failover", loader))
loader.exec_module(failover)

# Three done, one failed while the primary was away, one unconfirmed, then
# the poster's closing count.
LINES = "1000 ok\n1050 ok\n2000 failed\n2050 unconfirmed\n5000 ok\ndone=3 failed=2\n"


class Judge(unittest.TestCase):
    def setUp(self):
        with tempfile.NamedTemporaryFile("w", delete=False) as f:
            f.write(LINES)
        self.addCleanup(os.unlink, f.name)
        self.postings = failover.read_postings(f.name)

    def test_closing_count_is_no_posting(self):
        self.assertEqual(len(self.postings), 5)

    def test_kept_within_what_was_open(self):
        # The unconfirmed one and the one in flight may have been kept.
        for journal in (3, 4, 5):
            self.assertEqual(failover.judge(self.postings, journal), ([], 0))

    def test_posting_done_lost(self):
        complaints, lost = failover.judge(self.postings, 2)
        self.assertEqual(lost, 1)
        self.assertEqual(len(complaints), 1)

    def test_posting_failed_kept(self):
        complaints, lost = failover.judge(self.postings, 6)
        self.assertEqual((len(complaints), lost), (1, 0))

    def test_figures_of_the_outage(self):
        # From 2000 on: one failed before the first done again, one done,
        # 3 s from the event to it.
        self.assertEqual(failover.figures(self.postings, 2000, 0, 10000), (2, 2, 1, 3.0))
        self.assertEqual(failover.figures(self.postings, 2000, 0, 4000), (2, 2, 0, -1.0))


if __name__ == "__main__":
    unittest.main()
