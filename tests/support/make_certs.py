#!/usr/bin/python3
"""Makes the certificates the FTP-over-TLS tests need, into one folder.

    ca.pem           a private test CA (what ftpcafile names)
    good.pem         server certificate and key for localhost, 127.0.0.1 and
                     ::1, issued by the test CA
    wrongname.pem    the same CA, issued for elsewhere.invalid only
    expired.pem      the same CA and names, expired yesterday
    unknown.pem      for the right names, issued by a CA nobody trusts

Run with /usr/bin/python3 (python3-cryptography, which python3-openssl
brings along). Usage: make_certs.py FOLDER
"""

import datetime
import ipaddress
import os
import sys

from cryptography import x509
from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives.asymmetric import ec
from cryptography.x509.oid import NameOID

RIGHT_NAMES = [x509.DNSName('localhost'),
               x509.IPAddress(ipaddress.ip_address('127.0.0.1')),
               x509.IPAddress(ipaddress.ip_address('::1'))]
DAY = datetime.timedelta(days=1)


def name(text):
    return x509.Name([x509.NameAttribute(NameOID.COMMON_NAME, text)])


def make_ca(text):
    key = ec.generate_private_key(ec.SECP256R1())
    now = datetime.datetime.utcnow()
    cert = (x509.CertificateBuilder()
            .subject_name(name(text)).issuer_name(name(text))
            .public_key(key.public_key()).serial_number(x509.random_serial_number())
            .not_valid_before(now - DAY).not_valid_after(now + 30 * DAY)
            .add_extension(x509.BasicConstraints(ca=True, path_length=None), critical=True)
            .add_extension(x509.KeyUsage(False, False, False, False, False, True, True,
                                         False, False), critical=True)
            .sign(key, hashes.SHA256()))
    return cert, key


def make_server(ca, ca_key, names, before, after):
    key = ec.generate_private_key(ec.SECP256R1())
    cert = (x509.CertificateBuilder()
            .subject_name(name('test ftp server')).issuer_name(ca.subject)
            .public_key(key.public_key()).serial_number(x509.random_serial_number())
            .not_valid_before(before).not_valid_after(after)
            .add_extension(x509.SubjectAlternativeName(names), critical=False)
            .add_extension(x509.ExtendedKeyUsage([x509.oid.ExtendedKeyUsageOID.SERVER_AUTH]),
                           critical=False)
            .sign(ca_key, hashes.SHA256()))
    return cert, key


def pem(cert, key=None):
    text = cert.public_bytes(serialization.Encoding.PEM)
    if key is not None:
        text += key.private_bytes(serialization.Encoding.PEM,
                                  serialization.PrivateFormat.PKCS8,
                                  serialization.NoEncryption())
    return text


def main():
    folder = sys.argv[1]
    os.makedirs(folder, exist_ok=True)
    now = datetime.datetime.utcnow()
    ca, ca_key = make_ca('quaylink test CA')
    stranger, stranger_key = make_ca('nobody trusts this CA')
    files = {
        'ca.pem': pem(ca),
        'good.pem': pem(*make_server(ca, ca_key, RIGHT_NAMES, now - DAY, now + 30 * DAY)),
        'wrongname.pem': pem(*make_server(ca, ca_key, [x509.DNSName('elsewhere.invalid')],
                                          now - DAY, now + 30 * DAY)),
        'expired.pem': pem(*make_server(ca, ca_key, RIGHT_NAMES, now - 30 * DAY, now - DAY)),
        'unknown.pem': pem(*make_server(stranger, stranger_key, RIGHT_NAMES,
                                        now - DAY, now + 30 * DAY)),
    }
    # Each file appears whole: a caller that cannot wait for this process
    # (a Windows test under wine) waits for the files instead.
    for file_name, text in files.items():
        path = os.path.join(folder, file_name)
        with open(path + '.tmp', 'wb') as out:
            out.write(text)
        os.rename(path + '.tmp', path)


if __name__ == '__main__':
    main()
