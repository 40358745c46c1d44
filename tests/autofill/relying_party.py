#!/usr/bin/python3
"""A web site's side of passkeys, played by python-fido2's Fido2Server, for
tests that run the credential-provider host. The site makes its own client
data (challenge, origin) and keeps what it learns in a JSON state file.

  relying_party.py STATE register-begin RP_ID USER_NAME USER_HANDLE_B64 UV
      Starts a registration (UV: required or discouraged) and prints
      {"clientDataHash": B64}, what the host's registration request carries.
  relying_party.py STATE register-complete        stdin: the host's outcome
      Verifies the registration and keeps the new credential.
  relying_party.py STATE authenticate-begin UV
      Starts a sign-in and prints {"clientDataHash": B64}.
  relying_party.py STATE authenticate-complete    stdin: the host's outcome
      Verifies the assertion's signature against the kept credentials.

The *-complete commands print "ok" and exit 0, or say what failed and exit 1.
Byte strings are standard Base64, as the host writes them.
"""
import base64
import json
import os
import sys

from fido2.client import ClientData
from fido2.ctap2 import AttestationObject, AttestedCredentialData, AuthenticatorData
from fido2.server import Fido2Server
from fido2.utils import websafe_encode
from fido2.webauthn import PublicKeyCredentialRpEntity


def b64(data):
    return base64.b64encode(data).decode()


def unb64(text):
    return base64.b64decode(text, validate=True)


def load(path):
    with open(path) as f:
        return json.load(f)


def save(path, state):
    with open(path, "w") as f:
        json.dump(state, f)


def server(state):
    return Fido2Server(PublicKeyCredentialRpEntity(state["rpId"], "Relying party"))


def client_data(state, kind):
    challenge = os.urandom(32)
    data = ClientData.build(
        type=kind, challenge=websafe_encode(challenge), origin="https://" + state["rpId"]
    )
    return challenge, data


def register_begin(path, rp_id, user_name, user_handle, uv):
    # Credentials registered before (other users of the site) are kept.
    state = load(path) if os.path.exists(path) else {"rpId": rp_id, "credentials": []}
    challenge, data = client_data(state, "webauthn.create")
    _, server_state = server(state).register_begin(
        {"id": unb64(user_handle), "name": user_name}, challenge=challenge, user_verification=uv
    )
    state.update(pending=server_state, clientData=b64(data), userHandle=user_handle)
    save(path, state)
    print(json.dumps({"clientDataHash": b64(data.hash)}))


def completed(state, outcome, kind):
    """The client data the site made, or what is wrong with the outcome."""
    data = ClientData(unb64(state["clientData"]))
    if outcome.get("completed") != kind:
        return None, "outcome is %r" % outcome
    if outcome["relyingParty"] != state["rpId"]:
        return None, "relying party is %r" % outcome["relyingParty"]
    if unb64(outcome["clientDataHash"]) != data.hash:
        return None, "client data hash differs"
    return data, None


def register_complete(path, outcome):
    state = load(path)
    data, problem = completed(state, outcome, "passkeyRegistration")
    if problem:
        return problem
    attestation = AttestationObject(unb64(outcome["attestationObject"]))
    if attestation.fmt != "none":
        return "attestation format is %r" % attestation.fmt
    auth_data = server(state).register_complete(state["pending"], data, attestation)
    credential = auth_data.credential_data
    if credential.credential_id != unb64(outcome["credentialID"]):
        return "credential ID differs from the attested one"
    state["credentials"].append(b64(credential))
    state.setdefault("users", {})[outcome["credentialID"]] = state["userHandle"]
    save(path, state)
    return None


def authenticate_begin(path, uv):
    state = load(path)
    challenge, data = client_data(state, "webauthn.get")
    credentials = [AttestedCredentialData(unb64(c)) for c in state["credentials"]]
    _, server_state = server(state).authenticate_begin(
        credentials, challenge=challenge, user_verification=uv
    )
    state.update(pending=server_state, clientData=b64(data))
    save(path, state)
    print(json.dumps({"clientDataHash": b64(data.hash)}))


def authenticate_complete(path, outcome):
    state = load(path)
    data, problem = completed(state, outcome, "passkeyAssertion")
    if problem:
        return problem
    if outcome["userHandle"] != state.get("users", {}).get(outcome["credentialID"]):
        return "user handle is not the one registered with the credential"
    credentials = [AttestedCredentialData(unb64(c)) for c in state["credentials"]]
    server(state).authenticate_complete(
        state["pending"],
        credentials,
        unb64(outcome["credentialID"]),
        data,
        AuthenticatorData(unb64(outcome["authenticatorData"])),
        unb64(outcome["signature"]),
    )
    return None


def main():
    path, command, args = sys.argv[1], sys.argv[2], sys.argv[3:]
    if command == "register-begin":
        register_begin(path, *args)
        return 0
    if command == "authenticate-begin":
        authenticate_begin(path, *args)
        return 0
    complete = {"register-complete": register_complete,
                "authenticate-complete": authenticate_complete}[command]
    try:
        problem = complete(path, json.load(sys.stdin))
    except Exception as error:  # the verifier refuses with many exception types
        problem = "%s: %s" % (type(error).__name__, error)
    if problem:
        print(problem)
        return 1
    print("ok")
    return 0


if __name__ == "__main__":
    sys.exit(main())
