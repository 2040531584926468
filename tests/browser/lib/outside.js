'use strict';
// The outside web site the test links lead to: a loopback server that remembers the requests it got.

const http = require('node:http');

class COutsideSite {
    constructor() {
        this.hits = [];
    }

    start() {
        return new Promise((resolve, reject) => {
            this.server = http.createServer((req, res) => {
                this.hits.push(req.url);
                res.writeHead(200, { 'Content-Type': 'text/html; charset=utf-8' });
                res.end('<!DOCTYPE html><html><head><title>Outside</title></head><body><h1>Another web site</h1>' +
                    '</body></html>');
            });
            this.server.on('error', reject);
            this.server.listen(0, '127.0.0.1', () => {
                this.url = `http://127.0.0.1:${this.server.address().port}`;
                resolve(this);
            });
        });
    }

    stop() {
        if (!this.server)
            return Promise.resolve();
        this.server.closeAllConnections();
        return new Promise((resolve) => this.server.close(resolve));
    }
}

module.exports = { COutsideSite };
