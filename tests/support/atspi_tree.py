"""The elements of a window as a screen reader walks them over AT-SPI, for the
desktop tests' Python readers (imported with tests/support on sys.path)."""
import pyatspi


def showing(node):
    try:
        return node.getState().contains(pyatspi.STATE_SHOWING)
    except Exception:
        return False


def walk(node):
    """Every showing element below node, depth first."""
    for i in range(node.childCount):
        child = node.getChildAtIndex(i)
        if child is not None and showing(child):
            yield child
            yield from walk(child)
