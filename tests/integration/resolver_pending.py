"""Resolver cases that wait for parts of the server not built yet; run by hand with
pytest resolver_pending.py --kestserv=... (not collected with the other tests)."""
import dns.message
import dns.query
import dns.rcode

from fakenet import answer_set
from test_resolver import dig, resolver  # noqa: F401  (the fixture)


def test_client_on_tcp_gets_a_resolved_answer_over_its_connection(fake_internet, resolver):
    # Needs the TCP connection handler on port 53.
    f = fake_internet
    resolver()
    for name, rtype in (("ftp.alpha.test.", "A"), ("chain.alpha.test.", "A")):
        status, flags, answer = dig(name, rtype, "+tcp")
        assert (status, answer) == ("NOERROR", set(f.answers[(name, rtype)].answer)), name
        assert {"qr", "rd", "ra"} <= flags
    q = dns.message.make_query("www.glueless.test.", "A")
    r = dns.query.tcp(q, "127.0.0.1", timeout=10)
    assert r.id == q.id and r.rcode() == dns.rcode.NOERROR
    assert answer_set(r) == set(f.answers[("www.glueless.test.", "A")].answer)
