"""Options of the codec cross-check (test_codec_dnspython.py)."""


def pytest_addoption(parser):
    parser.addoption("--probe", action="store", default=None,
                     help="path of the codec_probe executable (else $KEST_CODEC_PROBE)")
