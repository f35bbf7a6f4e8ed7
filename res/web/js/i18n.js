// The page's texts in Korean and English; the browser's first language decides.

const TEXTS = {
    en: {
        shares: 'Shared folders',
        noShares: 'No folders are shared yet. Add a folder in the VembaCast server.',
        emptyFolder: 'This folder holds no videos or folders, or it cannot be read.',
        noSuchFolder: 'There is no such shared folder.',
        noSuchFile: 'This video no longer exists.',
        items: (n) => `${n} items`,
        sortName: 'Name',
        sortDate: 'Date',
        sortSize: 'Size',
        sortBy: 'Sort by',
        viewGrid: 'Grid',
        viewList: 'List',
        download: 'Download',
        subtitle: 'Subtitles',
        directPlay: 'Plays as is',
        back: 'Back to folder',
        previous: 'Previous',
        next: 'Next',
        play: 'Play',
        pause: 'Pause',
        fullscreen: 'Full screen',
        quality: 'Quality',
        loading: 'Loading…',
        passwordTitle: 'This server asks for its password',
        passwordLabel: 'Password',
        passwordSubmit: 'Connect',
        passwordWrong: 'The password is not right.',
        serverGone: 'The server does not answer. Is it still running?',
        denied: 'The server refused the request.',
        playFailed: 'The video could not be played.',
        tooMany: 'Too many devices are watching at the moment.',
        kbits: (n) => `${n} kbit/s`,
    },
    ko: {
        shares: '공유 폴더',
        noShares: '아직 공유한 폴더가 없습니다. VembaCast 서버에서 폴더를 추가하세요.',
        emptyFolder: '이 폴더에는 동영상이나 폴더가 없거나 읽을 수 없습니다.',
        noSuchFolder: '그런 공유 폴더가 없습니다.',
        noSuchFile: '이 동영상은 더 이상 없습니다.',
        items: (n) => `${n}개 항목`,
        sortName: '이름',
        sortDate: '날짜',
        sortSize: '크기',
        sortBy: '정렬',
        viewGrid: '격자',
        viewList: '목록',
        download: '내려받기',
        subtitle: '자막',
        directPlay: '바로 재생',
        back: '폴더로 돌아가기',
        previous: '이전',
        next: '다음',
        play: '재생',
        pause: '일시 정지',
        fullscreen: '전체 화면',
        quality: '화질',
        loading: '불러오는 중…',
        passwordTitle: '이 서버는 비밀번호를 요구합니다',
        passwordLabel: '비밀번호',
        passwordSubmit: '연결',
        passwordWrong: '비밀번호가 맞지 않습니다.',
        serverGone: '서버가 응답하지 않습니다. 서버가 실행 중인지 확인하세요.',
        denied: '서버가 요청을 거부했습니다.',
        playFailed: '동영상을 재생할 수 없습니다.',
        tooMany: '지금 시청 중인 기기가 너무 많습니다.',
        kbits: (n) => `${n} kbit/s`,
    },
};

export function pickLanguage(languages) {
    for (const language of languages || []) {
        const base = String(language).toLowerCase().split('-')[0];
        if (base in TEXTS)
            return base;
    }
    return 'en';
}

export const language = pickLanguage(navigator.languages || [navigator.language]);

export function t(key, ...args) {
    const text = TEXTS[language][key] ?? TEXTS.en[key] ?? key;
    return typeof text === 'function' ? text(...args) : text;
}
