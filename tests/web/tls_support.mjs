// What the HTTPS browser tests share: certificates of the test's own authority made
// by the openssl tool, a Chromium profile whose NSS database trusts that authority
// (and nothing is switched off), and Debian's nginx as a TLS reverse proxy that
// serves the daemon under a path prefix.

import { execFileSync, spawn } from 'node:child_process';
import { mkdirSync, rmSync, writeFileSync } from 'node:fs';
import { join } from 'node:path';
import { chromium } from 'playwright-core';
import { freePort, tempFolder } from './support.mjs';

export { freePort };

function openssl(...args) {
    execFileSync('openssl', args, { stdio: 'ignore' });
}

// An authority and a server certificate for localhost and 127.0.0.1 in folder.
export function makeCertificates(folder) {
    const ca = join(folder, 'ca.pem');
    const caKey = join(folder, 'ca.key');
    const cert = join(folder, 'server.pem');
    const key = join(folder, 'server.key');
    const request = join(folder, 'server.csr');
    const extensions = join(folder, 'server.ext');
    openssl('req', '-x509', '-newkey', 'ec', '-pkeyopt', 'ec_paramgen_curve:P-256', '-nodes',
        '-days', '30', '-subj', '/CN=VembaCast Browser Test CA', '-keyout', caKey, '-out', ca);
    openssl('req', '-newkey', 'ec', '-pkeyopt', 'ec_paramgen_curve:P-256', '-nodes',
        '-subj', '/CN=localhost', '-keyout', key, '-out', request);
    writeFileSync(extensions, 'subjectAltName=DNS:localhost,IP:127.0.0.1\n'
        + 'basicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n');
    openssl('x509', '-req', '-days', '30', '-CA', ca, '-CAkey', caKey, '-set_serial', '7',
        '-in', request, '-extfile', extensions, '-out', cert);
    return { ca, cert, key };
}

// Chromium with a home of its own whose NSS database trusts the authority.
export async function launchTrustingBrowser(ca) {
    const home = tempFolder('chromium-home');
    const database = join(home, '.pki', 'nssdb');
    mkdirSync(database, { recursive: true });
    execFileSync('certutil', ['-d', `sql:${database}`, '-N', '--empty-password']);
    execFileSync('certutil', ['-d', `sql:${database}`, '-A', '-t', 'C,,', '-n', 'vembacast-test', '-i', ca]);
    const context = await chromium.launchPersistentContext(join(home, 'profile'), {
        executablePath: '/usr/bin/chromium',
        headless: true,
        acceptDownloads: true,
        env: { ...process.env, HOME: home },
        viewport: { width: 1280, height: 800 },
        args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
            '--disable-background-networking', '--disable-component-update', '--disable-sync',
            '--autoplay-policy=no-user-gesture-required'],
    });
    return {
        context,
        async close() {
            await context.close();
            rmSync(home, { recursive: true, force: true });
        },
    };
}

// nginx on 127.0.0.1 with TLS, passing https://localhost:PORT/PREFIX/ to the daemon's
// plain port with the prefix stripped, as a home server's proxy does.
export async function startProxy({ prefix, backendPort, ca, cert, key }) {
    const root = tempFolder('nginx');
    const port = await freePort();
    mkdirSync(join(root, 'logs'));
    mkdirSync(join(root, 'temp'));
    const temp = (name) => `${name}_temp_path ${join(root, 'temp', name)};`;
    writeFileSync(join(root, 'nginx.conf'), `${process.getuid() === 0 ? 'user root;' : ''}
worker_processes 1;
pid ${join(root, 'nginx.pid')};
error_log ${join(root, 'logs', 'error.log')};
events { worker_connections 256; }
http {
    access_log ${join(root, 'logs', 'access.log')};
    ${temp('client_body')} ${temp('proxy')} ${temp('fastcgi')} ${temp('uwsgi')} ${temp('scgi')}
    server {
        listen 127.0.0.1:${port} ssl;
        ssl_certificate ${cert};
        ssl_certificate_key ${key};
        ssl_protocols TLSv1.2 TLSv1.3;
        location ${prefix}/ {
            proxy_pass http://127.0.0.1:${backendPort}/;
            proxy_http_version 1.1;
            proxy_set_header Host $host;
            proxy_set_header X-Forwarded-For $remote_addr;
            proxy_set_header X-Forwarded-Proto $scheme;
            proxy_set_header X-Forwarded-Host $host:$server_port;
            proxy_set_header X-Forwarded-Prefix ${prefix};
            proxy_buffering off;
            proxy_read_timeout 180s;
        }
    }
}
`);
    const child = spawn('/usr/sbin/nginx', ['-p', root, '-c', join(root, 'nginx.conf'), '-g', 'daemon off;'],
        { stdio: ['ignore', 'ignore', 'pipe'] });
    let errors = '';
    child.stderr.on('data', (chunk) => { errors += chunk; });
    const exited = new Promise((resolve) => child.once('exit', resolve));
    // nginx listens before it has anything to say; the first TLS answer shows it is up.
    for (let attempt = 0; ; attempt++) {
        try {
            execFileSync('curl', ['-sS', '--max-time', '5', '-o', '/dev/null', '--cacert', ca,
                `https://localhost:${port}/`], { stdio: 'ignore' });
            break;
        } catch (error) {
            if (attempt > 100 || child.exitCode !== null)
                throw new Error(`nginx did not start: ${errors}`);
            await new Promise((resolve) => setTimeout(resolve, 100));
        }
    }
    return {
        base: `https://localhost:${port}${prefix}/`,
        accessLog: join(root, 'logs', 'access.log'),
        async stop() {
            child.kill('SIGQUIT');
            await exited;
            rmSync(root, { recursive: true, force: true });
        },
    };
}
