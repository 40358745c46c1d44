#!/usr/bin/python3
"""Reads what the passkey encoders wrote with other programs' readers.

  webauthn_oracle.py cbor       stdin: {"items": [{"hex": ..., "value": V}]}
      cbor2 decodes every item to V, and its canonical encoding of V gives the
      same bytes. V is JSON: a number is an integer, {"text": s},
      {"bytes": hex}, {"array": [V...]} and {"map": [[V, V]...]}.

  webauthn_oracle.py webauthn   stdin: one registration and one assertion
      python-fido2's relying party accepts the registration (attestation
      object, "none" format) and then the assertion, verifying its signature
      with the public key from the registration.

Prints "ok" and exits 0, or says what failed and exits 1.
"""
import json
import sys

import cbor2


def value_of(v):
    if isinstance(v, int):
        return v
    if "text" in v:
        return v["text"]
    if "bytes" in v:
        return bytes.fromhex(v["bytes"])
    if "array" in v:
        return [value_of(x) for x in v["array"]]
    if "map" in v:
        return {value_of(k): value_of(x) for k, x in v["map"]}
    raise ValueError(v)


def check_cbor(request):
    for item in request["items"]:
        data = bytes.fromhex(item["hex"])
        expected = value_of(item["value"])
        decoded = cbor2.loads(data)
        if decoded != expected:
            return "%s decodes to %r, not %r" % (item["hex"], decoded, expected)
        canonical = cbor2.dumps(expected, canonical=True)
        if canonical != data:
            return "%s: canonical form is %s" % (item["hex"], canonical.hex())
    return None


def check_webauthn(request):
    from fido2.attestation import NoneAttestation
    from fido2.client import ClientData
    from fido2.ctap2 import AttestationObject, AuthenticatorData
    from fido2.server import Fido2Server
    from fido2.webauthn import PublicKeyCredentialRpEntity

    rp_id = request["rpId"]
    verification = "required" if request["userVerified"] else "discouraged"
    server = Fido2Server(PublicKeyCredentialRpEntity(rp_id, "Relying party"))
    user = {"id": b"user-1", "name": "alice"}

    created = ClientData(bytes.fromhex(request["registrationClientData"]))
    _, state = server.register_begin(
        user, challenge=created.challenge, user_verification=verification
    )
    attestation = AttestationObject(bytes.fromhex(request["attestationObject"]))
    if attestation.fmt != "none" or attestation.att_statement != {}:
        return "attestation is %r %r" % (attestation.fmt, attestation.att_statement)
    NoneAttestation().verify(
        attestation.att_statement, attestation.auth_data, created.hash
    )
    auth_data = server.register_complete(state, created, attestation)
    credential = auth_data.credential_data
    if credential.credential_id != bytes.fromhex(request["credentialId"]):
        return "credential ID is %s" % credential.credential_id.hex()
    if credential.aaguid != bytes(16) or auth_data.counter != 0:
        return "aaguid %s, counter %d" % (credential.aaguid.hex(), auth_data.counter)
    if auth_data.flags != request["registrationFlags"]:
        return "registration flags are 0x%02x" % auth_data.flags

    asserted = ClientData(bytes.fromhex(request["assertionClientData"]))
    _, state = server.authenticate_begin(
        [credential], challenge=asserted.challenge, user_verification=verification
    )
    assertion = AuthenticatorData(bytes.fromhex(request["assertionAuthData"]))
    if assertion.flags != request["assertionFlags"] or assertion.counter != 0:
        return "assertion flags 0x%02x, counter %d" % (assertion.flags, assertion.counter)
    server.authenticate_complete(
        state,
        [credential],
        credential.credential_id,
        asserted,
        assertion,
        bytes.fromhex(request["signature"]),
    )
    return None


def main():
    request = json.load(sys.stdin)
    try:
        problem = {"cbor": check_cbor, "webauthn": check_webauthn}[sys.argv[1]](request)
    except Exception as error:  # the readers refuse with many exception types
        problem = "%s: %s" % (type(error).__name__, error)
    if problem:
        print(problem)
        return 1
    print("ok")
    return 0


if __name__ == "__main__":
    sys.exit(main())
