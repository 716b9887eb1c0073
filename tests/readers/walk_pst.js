// Walks every folder and message of a PST with the npm package pst-extractor
// and prints one line per folder ("F <depth> <name> <count>") and message
// ("M <depth> <subject>"), then "TOTAL <folders> <messages>". With "raw" after
// the file, each message line holds PidTagSubject as stored, as JSON
// ("R <depth> <json>"), prefix marker included.
'use strict';
const { PSTFile } = require('pst-extractor');

const raw = process.argv[3] === 'raw';
let folders = 0;
let messages = 0;

function walk(folder, depth) {
    folders++;
    console.log(`F ${depth} ${folder.displayName} ${folder.contentCount}`);
    if (folder.contentCount > 0) {
        let m = folder.getNextChild();
        while (m != null) {
            messages++;
            if (raw) {
                console.log(`R ${depth} ${JSON.stringify(m.getStringItem(0x0037))}`);
            } else {
                console.log(`M ${depth} ${m.subject}`);
            }
            for (let i = 0; i < m.numberOfAttachments; i++) {
                const a = m.getAttachment(i);
                console.log(`A ${depth} ${a.longFilename} ${a.filesize}`);
            }
            m = folder.getNextChild();
        }
    }
    if (folder.hasSubfolders) {
        for (const child of folder.getSubFolders()) {
            walk(child, depth + 1);
        }
    }
}

const pst = new PSTFile(process.argv[2]);
console.log(`STORE ${pst.getMessageStore().displayName}`);
walk(pst.getRootFolder(), 0);
console.log(`TOTAL ${folders} ${messages}`);
